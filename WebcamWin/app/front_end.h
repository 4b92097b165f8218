// Which front end `server` opens on Linux: the desktop window when a display
// is there, the console without one or when "--console" asks for it.
// main() decides before anything else starts; FrameWindow::make() follows.
#ifndef WEBCAMWIN_APP_FRONT_END_H_
#define WEBCAMWIN_APP_FRONT_END_H_

// `display` and `waylandDisplay`: $DISPLAY and $WAYLAND_DISPLAY (null when
// unset).
bool wantsDesktopFrontEnd(bool consoleSwitch, const char* display, const char* waylandDisplay);

// The choice for this run, and the program's name for the desktop's
// toolkit.
void setDesktopFrontEndWanted(bool wanted, const char* programName);
bool desktopFrontEndWanted();
const char* frontEndProgramName();

#endif  // WEBCAMWIN_APP_FRONT_END_H_
