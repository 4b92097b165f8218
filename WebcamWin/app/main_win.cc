// Windows entry of `server` (a GUI program with a wide command line).
#include <windows.h>

#include "WebcamWin/app/last_chance.h"
#include "WebcamWin/app/server_main.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int showCommand) {
  installLastChanceGuard();
  return serverMain(commandLine ? base::string16(reinterpret_cast<const char16_t*>(commandLine))
                                : base::string16(),
                    showCommand);
}
