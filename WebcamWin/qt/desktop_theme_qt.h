// The desktop front end follows the desktop's theme: the platform's own
// style where the desktop gives one, otherwise Fusion with a light or a
// dark palette, dark when the desktop asks for it.
#ifndef WEBCAMWIN_QT_DESKTOP_THEME_QT_H_
#define WEBCAMWIN_QT_DESKTOP_THEME_QT_H_

#include <QString>

class QApplication;

// Whether the desktop prefers dark: GTK_THEME names a ":dark" variant, or
// the palette the platform gave is dark already (`windowLightness` 0-255).
bool desktopPrefersDark(const QString& gtkTheme, int windowLightness);
void applyDesktopTheme(QApplication* application);

#endif  // WEBCAMWIN_QT_DESKTOP_THEME_QT_H_
