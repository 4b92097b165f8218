// Start-up of the support tool, shared by both builds, and the front end
// each build runs: a dialog on Windows, a console on Linux.
#ifndef WEBCAMWIN_SUPPORT_SUPPORT_APP_H_
#define WEBCAMWIN_SUPPORT_SUPPORT_APP_H_

#include "WebcamWin/support/main_dlg.h"

namespace support {

// Traces are discarded unless LUMORA_SUPPORT_LOG names a file for them.
// Nothing may go to standard output or error: the main program reads them
// as the answer.
void initializeSupportTrace();

// The dialog's logic with the standard jobs, the process-wide parameter
// store and the support site from the environment; the test hook is set
// when LUMORA_SUPPORT_TEST_CONTROL names a folder.
std::unique_ptr<CMainDlg> createMainDlg(CMainDlgHost* host);

// Ends the process with `code` after the message loop. When a worker had to
// be given up, the jobs it still uses are not destroyed.
int finishSupportTool(std::unique_ptr<CMainDlg> dlg, int code);

// Runs the whole tool and returns the process exit code (per platform).
int runSupportTool();

}  // namespace support

#endif  // WEBCAMWIN_SUPPORT_SUPPORT_APP_H_
