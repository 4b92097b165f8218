// The Linux build without the desktop front end: always the console.
#include <cstdio>

#include "WebcamWin/console/console_window.h"

std::unique_ptr<FrameWindow> FrameWindow::make(CMainFrame* frame) {
  return std::make_unique<ConsoleWindow>(frame, stdout);
}
