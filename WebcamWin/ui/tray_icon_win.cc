#include "WebcamWin/ui/tray_icon_win.h"

#include <shellapi.h>

#include <algorithm>

namespace {

void copyText(wchar_t* target, size_t capacity, const base::string16& text) {
  const size_t n = std::min(text.size(), capacity - 1);
  for (size_t i = 0; i < n; ++i) target[i] = static_cast<wchar_t>(text[i]);
  target[n] = 0;
}

NOTIFYICONDATAW blank(HWND owner) {
  NOTIFYICONDATAW data = {};
  data.cbSize = NOTIFYICONDATAW_V2_SIZE;
  data.hWnd = owner;
  data.uID = CTrayIcon::kId;
  return data;
}

}  // namespace

bool CTrayIcon::add(HWND owner, HICON icon, const base::string16& tooltip) {
  remove();
  NOTIFYICONDATAW data = blank(owner);
  data.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
  data.uCallbackMessage = kCallbackMessage;
  data.hIcon = icon;
  copyText(data.szTip, 128, tooltip);
  if (!::Shell_NotifyIconW(NIM_ADD, &data)) return false;
  owner_ = owner;
  return true;
}

void CTrayIcon::remove() {
  if (!owner_) return;
  NOTIFYICONDATAW data = blank(owner_);
  ::Shell_NotifyIconW(NIM_DELETE, &data);
  owner_ = nullptr;
}

bool CTrayIcon::changeIcon(HICON icon) {
  if (!owner_) return false;
  NOTIFYICONDATAW data = blank(owner_);
  data.uFlags = NIF_ICON;
  data.hIcon = icon;
  return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

bool CTrayIcon::showBalloon(const base::string16& title, const base::string16& text) {
  if (!owner_) return false;
  NOTIFYICONDATAW data = blank(owner_);
  data.uFlags = NIF_INFO;
  data.uTimeout = kBalloonTimeoutMs;
  data.dwInfoFlags = NIIF_INFO;
  copyText(data.szInfoTitle, 64, title);
  copyText(data.szInfo, 256, text);
  return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

UINT CTrayIcon::translate(LPARAM mouseMessage) {
  switch (static_cast<UINT>(mouseMessage)) {
    case WM_RBUTTONUP: return kRightButtonUp;
    case WM_LBUTTONUP: return kLeftButtonUp;
    case WM_LBUTTONDBLCLK: return kLeftDoubleClick;
    default: return 0;
  }
}
