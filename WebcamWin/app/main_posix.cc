// Linux entry of `server`: the arguments become one command line as Windows
// hands it over, and the window is shown unless "minimize" says otherwise.
// The front end is chosen here: the desktop window when there is a display,
// the console without one or with "--console".
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/app/front_end.h"
#include "WebcamWin/app/last_chance.h"
#include "WebcamWin/app/server_main.h"
#include "WebcamWin/app/startup.h"

int main(int argc, char** argv) {
  // Answered before anything else: package scripts and users ask it without
  // wanting a log file, a settings key or a second instance.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", base::wideToUtf8(kProductName).c_str(), kProgramVersion);
    return 0;
  }
  installLastChanceGuard();
  // A closed terminal or pipe on the console must not end the program.
  ::signal(SIGPIPE, SIG_IGN);
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  const base::string16 wide = base::utf8ToWide(commandLine);
  setDesktopFrontEndWanted(
      wantsDesktopFrontEnd(parseSwitches(wide).count(u"console") != 0, std::getenv("DISPLAY"),
                           std::getenv("WAYLAND_DISPLAY")),
      argc > 0 ? argv[0] : nullptr);
  return serverMain(wide, kShowNormal);
}
