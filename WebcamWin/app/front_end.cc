#include "WebcamWin/app/front_end.h"

namespace {
bool gDesktopWanted = false;
const char* gProgramName = "server";
}  // namespace

bool wantsDesktopFrontEnd(bool consoleSwitch, const char* display, const char* waylandDisplay) {
  if (consoleSwitch) return false;
  return (display && *display) || (waylandDisplay && *waylandDisplay);
}

void setDesktopFrontEndWanted(bool wanted, const char* programName) {
  gDesktopWanted = wanted;
  if (programName) gProgramName = programName;
}

bool desktopFrontEndWanted() { return gDesktopWanted; }

const char* frontEndProgramName() { return gProgramName; }
