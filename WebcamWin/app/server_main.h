// The start-up and end of `server` on the first thread, which stays the
// user-interface thread: log, switches, the single-instance check, priority,
// libraries, settings, the resource library, the main window and its
// message loop. The platform entries (main_win.cc, main_posix.cc) install
// the last-chance guard and call serverMain().
#ifndef WEBCAMWIN_SERVER_MAIN_H_
#define WEBCAMWIN_SERVER_MAIN_H_

#include "base/string_util.h"

// `commandLine`: the arguments after the program's name; `showCommand`: how
// the main window is shown (hidden when "minimize" is present). Returns the
// process exit code: 1 after a normal end, 0 for "exit", for a second
// instance and when the main window could not be created, -1 without the
// resource library. "allow", "allow-once" and "deny" answer the running
// instance's authorization prompt: 0 when a phone was waiting, else 1.
int serverMain(const base::string16& commandLine, int showCommand);

// How many times, and how far apart, "exit" asks a running instance to close.
constexpr int kExitAttempts = 10;
constexpr unsigned kExitRetryMs = 1000;

#endif  // WEBCAMWIN_SERVER_MAIN_H_
