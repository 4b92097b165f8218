// The Linux build with the desktop front end: the window when a display can
// be reached, the console otherwise.
#include <cstdio>

#include "WebcamWin/app/front_end.h"
#include "WebcamWin/console/console_window.h"
#include "WebcamWin/qt/qt_window.h"

std::unique_ptr<FrameWindow> FrameWindow::make(CMainFrame* frame) {
  if (desktopFrontEndWanted() && QtWindow::start(frontEndProgramName())) return std::make_unique<QtWindow>(frame);
  return std::make_unique<ConsoleWindow>(frame, stdout);
}
