#include "WebcamWin/support/support_app.h"

#include <cstdio>
#include <cstdlib>

#include "WebcamWin/support/support_platform.h"
#include "base/logging.h"

namespace support {

void initializeSupportTrace() {
  const string16 file = environmentVariable("LUMORA_SUPPORT_LOG");
  if (file.empty()) {
    base::initLogging(u"", base::kLogNone, base::kLockInProcess, 0);
    base::setMinLogSeverity(base::LOG_FATAL + 1);
  } else base::initLogging(file, base::kLogToFile, base::kLockInProcess, 0);
}

std::unique_ptr<CMainDlg> createMainDlg(CMainDlgHost* host) {
  auto dlg = std::make_unique<CMainDlg>(
      host, CMainDlg::makeStandardJobs(&CParamStore::instance(), supportSiteFromEnvironment()));
  const string16 control = environmentVariable(kTestControlVariable);
  if (!control.empty()) dlg->setTestControl(control);
  return dlg;
}

int finishSupportTool(std::unique_ptr<CMainDlg> dlg, int code) {
  LOG(INFO) << "Support tool ends with " << code;
  if (CWorkerThread::abandonedCount() > 0) {
    std::fflush(nullptr);
    (void)dlg.release();  // a given-up worker may still use its job
    std::_Exit(code);
  }
  dlg.reset();
  return code;
}

}  // namespace support
