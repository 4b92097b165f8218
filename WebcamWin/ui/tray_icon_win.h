// CTrayIcon: the program's icon in the notification area (identifier
// 0x2400), its tooltip and balloons. Mouse events reach the owner as the
// callback message 0x2400 with the translated event as its first parameter:
// right button up 0x2401, left button up 0x2402, left double click 0x2403,
// anything else 0.
//
// Thread: the user-interface thread.
#ifndef WEBCAMWIN_UI_TRAY_ICON_WIN_H_
#define WEBCAMWIN_UI_TRAY_ICON_WIN_H_

#include <windows.h>

#include "base/string_util.h"

class CTrayIcon {
 public:
  static constexpr UINT kId = 0x2400;
  static constexpr UINT kCallbackMessage = 0x2400;
  static constexpr UINT kRightButtonUp = 0x2401;
  static constexpr UINT kLeftButtonUp = 0x2402;
  static constexpr UINT kLeftDoubleClick = 0x2403;
  static constexpr uint32_t kBalloonTimeoutMs = 10000;

  CTrayIcon() = default;
  ~CTrayIcon() { remove(); }
  CTrayIcon(const CTrayIcon&) = delete;
  CTrayIcon& operator=(const CTrayIcon&) = delete;

  // `tooltip`: at most 127 characters are kept.
  bool add(HWND owner, HICON icon, const base::string16& tooltip);
  void remove();
  bool changeIcon(HICON icon);
  // Title of at most 63 and text of at most 255 characters.
  bool showBalloon(const base::string16& title, const base::string16& text);
  bool added() const { return owner_ != nullptr; }

  // The owner's callback message's mouse event, translated.
  static UINT translate(LPARAM mouseMessage);

 private:
  HWND owner_ = nullptr;
};

#endif  // WEBCAMWIN_UI_TRAY_ICON_WIN_H_
