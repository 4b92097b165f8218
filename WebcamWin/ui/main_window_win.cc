// The Win32 frame window of `server` (class "com.quillonlabs.zuviridar_iphone"):
// it hands WM_CREATE, WM_CLOSE and WM_DESTROY to CMainFrame and, until the
// skinned main view exists, paints the connection state as text.
#include <windows.h>

#include <atomic>

#include "WebcamWin/app_info.h"
#include "WebcamWin/frame_window.h"
#include "WebcamWin/main_frame.h"
#include "WebcamWin/shell.h"
#include "WebcamWin/ui/auth_prompt_win.h"
#include "base/logging.h"

namespace {

constexpr UINT kMsgShowRequest = WM_APP + 1;
// The main view is 440 by 450 pixels inside a margin of 3 pixels.
constexpr int kClientWidth = 446;
constexpr int kClientHeight = 456;

const wchar_t* w(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
const wchar_t* w(const base::string16& s) { return w(s.c_str()); }

class MainWindowWin : public FrameWindow {
 public:
  explicit MainWindowWin(CMainFrame* frame)
      : frame_(frame), prompt_([this](int controlId) { onPromptAnswer(controlId); }) {}
  ~MainWindowWin() override { destroy(); }

  bool create(const base::string16& title) override {
    if (!registerClass()) return false;
    RECT rect = {0, 0, kClientWidth, kClientHeight};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    ::AdjustWindowRectEx(&rect, style, FALSE, 0);
    HWND hwnd = ::CreateWindowExW(0, w(kInstanceName), w(title), style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, rect.right - rect.left, rect.bottom - rect.top,
                                  nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
    if (!hwnd) LOG(ERROR) << "CreateWindowExW failed: " << ::GetLastError();
    return hwnd != nullptr;
  }

  void centre() override {
    HWND hwnd = hwnd_.load();
    if (!hwnd) return;
    RECT window, area;
    ::GetWindowRect(hwnd, &window);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const int width = window.right - window.left, height = window.bottom - window.top;
    ::SetWindowPos(hwnd, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void show(int showCommand) override {
    if (HWND hwnd = hwnd_.load()) {
      ::ShowWindow(hwnd, showCommand);
      ::UpdateWindow(hwnd);
    }
  }

  int messageBox(const base::string16& text, uint32_t type) override {
    return ::MessageBoxW(hwnd_.load(), w(text), w(kProductName), type);
  }

  void bringToFront() override {
    if (HWND hwnd = hwnd_.load()) ::SetForegroundWindow(hwnd);
  }

  bool visible() const override {
    HWND hwnd = hwnd_.load();
    return hwnd && ::IsWindowVisible(hwnd);
  }

  void destroy() override {
    if (HWND hwnd = hwnd_.load()) ::DestroyWindow(hwnd);
  }

  void postClose(uintptr_t param) override {
    if (HWND hwnd = hwnd_.load()) ::PostMessageW(hwnd, WM_CLOSE, param, 0);
  }

  void postShow() override {
    if (HWND hwnd = hwnd_.load()) ::PostMessageW(hwnd, kMsgShowRequest, 0, 0);
  }

  void showAuthorizationPrompt(const base::string16& name, const base::string16& uid) override {
    prompt_.show(hwnd_.load(), name, uid);
    LOG(INFO) << "Waiting for the user's answer about the phone. Answer in the prompt, or with "
                 "'server -allow', 'server -allow-once' or 'server -deny'";
  }

  void closeAuthorizationPrompt() override { prompt_.close(); }

  void showStatus(const base::string16& text) override {
    status_ = text;
    if (HWND hwnd = hwnd_.load()) ::InvalidateRect(hwnd, nullptr, TRUE);
  }

 private:
  static bool registerClass() {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = windowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = w(kInstanceName);
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      LOG(ERROR) << "RegisterClassExW failed: " << ::GetLastError();
      return false;
    }
    registered = true;
    return true;
  }

  static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      auto* self = static_cast<MainWindowWin*>(create->lpCreateParams);
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      self->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<MainWindowWin*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, msg, wparam, lparam);
    return self->handle(hwnd, msg, wparam, lparam);
  }

  LRESULT handle(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
      case WM_CREATE:
        return frame_->onCreate() ? 0 : -1;
      case WM_CLOSE:
        frame_->onClose(wparam);
        return 0;
      case WM_DESTROY:
        prompt_.close();
        frame_->onDestroy();
        return 0;
      case WM_NCDESTROY:
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        break;
      case shell::kMsgAnswerRequest:
        return answerRequest(wparam);
      case kMsgShowRequest:
        ::ShowWindow(hwnd, SW_SHOWNORMAL);
        ::SetForegroundWindow(hwnd);
        return 0;
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(hwnd, &paint);
        RECT client;
        ::GetClientRect(hwnd, &client);
        ::SetBkMode(dc, TRANSPARENT);
        ::DrawTextW(dc, w(status_), -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        ::EndPaint(hwnd, &paint);
        return 0;
      }
      default:
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wparam, lparam);
  }

  void onPromptAnswer(int controlId) {
    if (controlId == AuthPromptWin::kIdAllowAlways) frame_->answerAuthorization(CMainFrame::AuthAnswer::kAllowAlways);
    else if (controlId == AuthPromptWin::kIdAllow) frame_->answerAuthorization(CMainFrame::AuthAnswer::kAllowOnce);
    else frame_->answerAuthorization(CMainFrame::AuthAnswer::kDeny);
  }

  // Another start's -allow, -allow-once or -deny: 1 when a phone waited.
  LRESULT answerRequest(WPARAM answer) {
    CMainFrame::AuthAnswer which = CMainFrame::AuthAnswer::kDeny;
    if (answer == shell::kAnswerAllowAlways) which = CMainFrame::AuthAnswer::kAllowAlways;
    else if (answer == shell::kAnswerAllowOnce) which = CMainFrame::AuthAnswer::kAllowOnce;
    return frame_->answerAuthorization(which) ? 1 : 0;
  }

  CMainFrame* frame_;
  std::atomic<HWND> hwnd_{nullptr};
  base::string16 status_;
  AuthPromptWin prompt_;
};

}  // namespace

std::unique_ptr<FrameWindow> FrameWindow::make(CMainFrame* frame) {
  return std::make_unique<MainWindowWin>(frame);
}
