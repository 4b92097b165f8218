// The Win32 frame window of `server` (class "com.quillonlabs.zuviridar_iphone"):
// a borderless popup of 446 by 456 pixels holding the skinned main view at
// (3, 3), the notification-area icon with its menu, and the dialogs. It hands
// the window's messages to CMainFrame and shows what the controller tells it.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/frame_window.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/platform/instance.h"
#include "WebcamWin/ui/dialogs_win.h"
#include "WebcamWin/ui/skin_win.h"
#include "WebcamWin/ui/tray_icon_win.h"
#include "WebcamWin/ui/webcam_view_win.h"
#include "WebcamWin/controller/ui_rules.h"
#include "base/logging.h"

namespace {

using skin::w;

constexpr UINT kMsgShowRequest = WM_APP + 1;
// The prompt's answer, handled after the prompt's own message returned.
constexpr UINT kMsgPromptAnswer = WM_APP + 3;
constexpr int kMargin = 3;
constexpr int kClientWidth = CWebcamView::kWidth + 2 * kMargin;
constexpr int kClientHeight = CWebcamView::kHeight + 2 * kMargin;
constexpr DWORD kFrameStyle = WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_SYSMENU;
constexpr DWORD kFrameExStyle = WS_EX_APPWINDOW;
constexpr int kTrayMenuId = 20000;

class MainWindowWin : public FrameWindow {
 public:
  explicit MainWindowWin(CMainFrame* frame)
      : frame_(frame),
        view_([frame](CMainFrame::UiEvent event) { frame->onUiEvent(event); }, [this] { showFirstRunTip(); }) {}
  ~MainWindowWin() override {
    destroy();
    if (connectedIcon_) ::DestroyIcon(connectedIcon_);
    if (disconnectedIcon_) ::DestroyIcon(disconnectedIcon_);
  }

  bool create(const base::string16& title) override {
    if (!registerClass()) return false;
    HWND hwnd = ::CreateWindowExW(kFrameExStyle, w(kInstanceName), w(title), kFrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                  kClientWidth, kClientHeight, nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
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
                   area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
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
    prompt_.reset();
    HWND main = hwnd_.load();
    // The answer names its prompt, so that it cannot land on a newer one.
    const LPARAM promptId = static_cast<LPARAM>(frame_->promptId());
    prompt_ = std::make_unique<CDlgAuthorization>(name, uid, [main, promptId](int button) {
      ::PostMessageW(main, kMsgPromptAnswer, static_cast<WPARAM>(button), promptId);
    });
    if (!prompt_->create(main)) prompt_.reset();
    LOG(INFO) << "Waiting for the user's answer about the phone. Answer in the prompt, or with "
                 "'server -allow', 'server -allow-once' or 'server -deny'";
  }

  void closeAuthorizationPrompt() override { prompt_.reset(); }

  void showStatus(const base::string16& text) override { status_ = text; }

  void showPhoneConnected(const base::string16& name) override { view_.setConnected(true); }
  void showPhoneDisconnected(const base::string16& name) override { view_.setConnected(false); }
  void showRecording(bool recording) override { view_.setRecording(recording); }
  void showRecordingTime(uint32_t elapsedMs) override { view_.setRecordingTime(elapsedMs); }

  int askBeforeQuitting(const base::string16& text, bool* dontAskAgain) override {
    CDontAskAgainDlg question(text);
    HWND owner = ::GetActiveWindow();
    const INT_PTR answer = question.doModal(owner ? owner : hwnd_.load());
    *dontAskAgain = question.dontAskAgain();
    return answer == IDYES ? kIdOk : kIdNo;
  }

  void addTrayIcon(const base::string16& tooltip) override {
    if (!connectedIcon_) connectedIcon_ = skin::Image(u"server_connected.png").makeIcon();
    if (!disconnectedIcon_) disconnectedIcon_ = skin::Image(u"server_disconnected.png").makeIcon();
    if (!tray_.add(hwnd_.load(), disconnectedIcon_, tooltip)) LOG(WARNING) << "The notification-area icon failed";
  }
  void setTrayIconConnected(bool connected) override {
    tray_.changeIcon(connected ? connectedIcon_ : disconnectedIcon_);
  }
  void showBalloon(const base::string16& title, const base::string16& text) override {
    tray_.showBalloon(title, text);
  }

  void watchVideo(component::VideoComponent* video) override { video->AddObserver(&view_); }
  void unwatchVideo(component::VideoComponent* video) override { video->RemoveObserver(&view_); }

  void showAbout() override {
    if (aboutOpen_) return;
    aboutOpen_ = true;
    CAboutDlg about(frame_);
    about.doModal(hwnd_.load());
    aboutOpen_ = false;
  }

  bool showSettings(SettingsDialogState* state) override {
    CDlgSettings settings(state, frame_);
    return settings.doModal(hwnd_.load()) == IDOK;
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
    wc.hbrBackground = nullptr;
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
      case WM_CREATE: {
        ResourceLibrary* library = ResourceLibrary::current();
        HINSTANCE resources = library ? static_cast<HINSTANCE>(library->nativeHandle()) : nullptr;
        CAuxiliaryDialog::setResources(resources);
        if (!view_.create(resources, hwnd, kMargin, kMargin, frame_->firstRunTipWanted())) return -1;
        return frame_->onCreate() ? 0 : -1;
      }
      case WM_CLOSE:
        frame_->onClose(wparam);
        return 0;
      case WM_DESTROY:
        tray_.remove();
        prompt_.reset();
        frame_->onDestroy();
        return 0;
      case WM_NCDESTROY:
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        break;
      case WM_ERASEBKGND: {
        RECT client;
        ::GetClientRect(hwnd, &client);
        HBRUSH edge = ::CreateSolidBrush(RGB(74, 82, 96));
        ::FillRect(reinterpret_cast<HDC>(wparam), &client, edge);
        ::DeleteObject(edge);
        return 1;
      }
      case WM_SHOWWINDOW:
        if (!wparam) frame_->onWindowHidden();
        break;
      case WM_COMMAND:
        if (frame_->onMenuCommand(LOWORD(wparam))) return 0;
        break;
      case CTrayIcon::kCallbackMessage:
        onTrayEvent(CTrayIcon::translate(lparam));
        return 0;
      case shell::kMsgAnswerRequest:
        return answerRequest(wparam, lparam);
      case kMsgPromptAnswer:
        onPromptAnswer(static_cast<int>(wparam), static_cast<uint64_t>(static_cast<ULONG_PTR>(lparam)));
        return 0;
      case kMsgShowRequest:
        ::ShowWindow(hwnd, SW_SHOWNORMAL);
        ::SetForegroundWindow(hwnd);
        return 0;
      default:
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wparam, lparam);
  }

  void onTrayEvent(UINT event) {
    HWND hwnd = hwnd_.load();
    if (event == CTrayIcon::kLeftButtonUp || event == CTrayIcon::kLeftDoubleClick) {
      frame_->onMenuCommand(CMainFrame::kCmdShow);
      return;
    }
    if (event != CTrayIcon::kRightButtonUp) return;
    ResourceLibrary* library = ResourceLibrary::current();
    HMENU menu = library ? ::LoadMenuW(static_cast<HINSTANCE>(library->nativeHandle()), MAKEINTRESOURCEW(kTrayMenuId))
                         : nullptr;
    if (!menu) {
      LOG(ERROR) << "No menu " << kTrayMenuId << " in the resource library";
      return;
    }
    HMENU popup = ::GetSubMenu(menu, 0);
    // Show or hide, whichever is not the window's state.
    ::DeleteMenu(popup, trayMenuEntryToRemove(::IsWindowVisible(hwnd) != FALSE), MF_BYCOMMAND);
    std::string entries;
    for (int i = 0; i < ::GetMenuItemCount(popup); ++i) {
      const UINT id = ::GetMenuItemID(popup, i);
      if (id != 0 && id != static_cast<UINT>(-1)) entries += " " + std::to_string(id);
    }
    LOG(INFO) << "Notification-area menu:" << entries;
    POINT at;
    ::GetCursorPos(&at);
    ::SetForegroundWindow(hwnd);
    ::TrackPopupMenu(popup, TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd, nullptr);
    ::PostMessageW(hwnd, WM_NULL, 0, 0);
    ::DestroyMenu(menu);
  }

  void showFirstRunTip() {
    CDlgFirstRunTip tip([this](bool showAgain) { frame_->onFirstRunTipClosed(showAgain); });
    tip.doModal(hwnd_.load());
  }

  void onPromptAnswer(int button, uint64_t promptId) {
    CMainFrame::AuthAnswer which = CMainFrame::AuthAnswer::kDeny;
    if (button == CDlgAuthorization::kIdAllowAlways) which = CMainFrame::AuthAnswer::kAllowAlways;
    else if (button == CDlgAuthorization::kIdAllow) which = CMainFrame::AuthAnswer::kAllowOnce;
    frame_->answerAuthorization(which, promptId);
  }

  // Another start's -allow, -allow-once or -deny: 1 when a phone waited.
  // `deadline` (a tick count, 0: none) is when that start stops waiting; a
  // message handled after it must not answer anything.
  LRESULT answerRequest(WPARAM answer, LPARAM deadline) {
    if (deadline != 0 && static_cast<LONG>(::GetTickCount() - static_cast<DWORD>(deadline)) > 0) {
      LOG(WARNING) << "An answer from another start came too late and was dropped";
      return 0;
    }
    CMainFrame::AuthAnswer which = CMainFrame::AuthAnswer::kDeny;
    if (answer == shell::kAnswerAllowAlways) which = CMainFrame::AuthAnswer::kAllowAlways;
    else if (answer == shell::kAnswerAllowOnce) which = CMainFrame::AuthAnswer::kAllowOnce;
    return frame_->answerAuthorization(which) ? 1 : 0;
  }

  CMainFrame* frame_;
  std::atomic<HWND> hwnd_{nullptr};
  base::string16 status_;
  CWebcamView view_;
  CTrayIcon tray_;
  HICON connectedIcon_ = nullptr;
  HICON disconnectedIcon_ = nullptr;
  std::unique_ptr<CDlgAuthorization> prompt_;
  bool aboutOpen_ = false;
};

}  // namespace

std::unique_ptr<FrameWindow> FrameWindow::make(CMainFrame* frame) {
  return std::make_unique<MainWindowWin>(frame);
}
