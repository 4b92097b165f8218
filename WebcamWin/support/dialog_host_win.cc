// The Windows front end of the support tool: the main dialog "Application
// Error Reporting Tool" hosting the preparing page (description, status
// line, progress bar or marquee, "Abort") or the error page ("Retry"), as
// child dialogs from the program's resources. Without a desktop to show
// them on (a service session, a headless test) the same logic runs on a
// message-only window and nothing is asked.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <atomic>

#include "WebcamWin/support/main_dlg.h"
#include "WebcamWin/support/support_app.h"
#include "WebcamWin/support/support_platform.h"
#include "WebcamWin/support/support_resource.h"
#include "base/logging.h"

namespace support {
namespace {

constexpr UINT_PTR kProgressTimer = 1;
constexpr UINT kProgressTimerMs = 100;
constexpr UINT kMarqueeMs = 20;
constexpr UINT_PTR kTestControlTimer = 2;
constexpr UINT kTestControlMs = 100;
constexpr const wchar_t* kHeadlessClass = L"com.quillonlabs.support";

const wchar_t* wide(const string16& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
HINSTANCE instance() { return GetModuleHandleW(nullptr); }

// A page as a child dialog of the main dialog (no window when headless).
class PageWin : public IPage {
 public:
  PageWin(int templateId, HWND* parent) : parent_(parent), templateId_(templateId) {}
  ~PageWin() override {
    if (hwnd_) DestroyWindow(hwnd_);
  }

  bool create() override {
    if (hwnd_ || !*parent_) return hwnd_ != nullptr;
    hwnd_ = CreateDialogParamW(instance(), MAKEINTRESOURCEW(templateId_), *parent_, &PageWin::proc,
                               reinterpret_cast<LPARAM>(this));
    return hwnd_ != nullptr;
  }
  void setJob(CJob* job) override { job_ = job; }
  void hide() override {}
  HWND hwnd() const { return hwnd_; }

 protected:
  virtual bool onCommand(WORD id) { return false; }
  virtual void onTimer(UINT_PTR id) {}
  virtual void onDestroy() {}

  HWND hwnd_ = nullptr;
  CJob* job_ = nullptr;
  HWND* parent_;

 private:
  static INT_PTR CALLBACK proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_INITDIALOG) {
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, lparam);
      reinterpret_cast<PageWin*>(lparam)->hwnd_ = hwnd;
      return TRUE;
    }
    auto* self = reinterpret_cast<PageWin*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return FALSE;
    switch (msg) {
      case WM_COMMAND:
        return self->onCommand(LOWORD(wparam)) ? TRUE : FALSE;
      case WM_TIMER:
        self->onTimer(wparam);
        return TRUE;
      case WM_DESTROY:
        self->onDestroy();
        self->hwnd_ = nullptr;
        return FALSE;
    }
    return FALSE;
  }

  int templateId_;
};

class CPagePreparing : public PageWin {
 public:
  explicit CPagePreparing(HWND* parent) : PageWin(IDD_PAGE_PREPARING, parent) {}

  void show() override {
    if (!hwnd_ || !job_) return;
    SetDlgItemTextW(hwnd_, IDC_DESCRIPTION, wide(job_->title()));
    SetDlgItemTextW(hwnd_, IDC_STATUS, wide(job_->statusText()));
    HWND bar = GetDlgItem(hwnd_, IDC_PROGRESS);
    const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
    if (job_->hasProgress()) {
      SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
      SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
      SendMessageW(bar, PBM_SETRANGE32, 0, 100);
      SendMessageW(bar, PBM_SETPOS, job_->progress(), 0);
      SetTimer(hwnd_, kProgressTimer, kProgressTimerMs, nullptr);
    } else {
      KillTimer(hwnd_, kProgressTimer);
      SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
      SendMessageW(bar, PBM_SETMARQUEE, TRUE, kMarqueeMs);
    }
  }

 protected:
  bool onCommand(WORD id) override {
    if (id != IDC_ABORT) return false;
    if (MessageBoxW(hwnd_, wide(kAbortQuestion), L"", MB_YESNO | MB_ICONQUESTION) == IDYES)
      SendMessageW(*parent_, kMsgSkipToForm, 0, 0);
    return true;
  }
  void onTimer(UINT_PTR id) override {
    if (id != kProgressTimer || !job_) return;
    SendDlgItemMessageW(hwnd_, IDC_PROGRESS, PBM_SETPOS, job_->progress(), 0);
    SetDlgItemTextW(hwnd_, IDC_STATUS, wide(job_->statusText()));
  }
  void onDestroy() override { KillTimer(hwnd_, kProgressTimer); }
};

class CPageError : public PageWin {
 public:
  explicit CPageError(HWND* parent) : PageWin(IDD_PAGE_ERROR, parent) {}

  void setMessage(const string16& message) override { message_ = message; }
  void show() override {
    if (hwnd_) SetDlgItemTextW(hwnd_, IDC_ERROR_MESSAGE, wide(message_));
  }

 protected:
  bool onCommand(WORD id) override {
    if (id != IDC_RETRY) return false;
    SendMessageW(*parent_, kMsgRetryCheck, 0, 0);
    return true;
  }

 private:
  string16 message_;
};

class DialogHost : public CMainDlgHost {
 public:
  DialogHost() : preparing_(&dialog_), error_(&dialog_) {}

  int run() {
    dlg_ = createMainDlg(this);
    dialog_ = CreateDialogParamW(instance(), MAKEINTRESOURCEW(IDD_MAINDLG), nullptr, &DialogHost::dialogProc,
                                 reinterpret_cast<LPARAM>(this));
    if (!dialog_) {
      LOGF(WARNING, "No dialog (%lu); running without a window", GetLastError());
      if (!createHeadlessWindow()) return finishSupportTool(std::move(dlg_), 0);
      initialize();
    } else {
      STARTUPINFOW si = {};
      si.cb = sizeof(si);
      GetStartupInfoW(&si);
      ShowWindow(dialog_, (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : SW_SHOWNORMAL);
    }
    MSG msg;
    int code = 0;
    for (;;) {
      const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0) {
        code = static_cast<int>(msg.wParam);
        break;
      }
      if (got < 0) break;
      if (!headless_ && dialog_ && IsDialogMessageW(dialog_, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    return finishSupportTool(std::move(dlg_), code);
  }

  // CMainDlgHost
  bool postMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override {
    HWND target = postTarget_.load();
    return target && PostMessageW(target, msg, wparam, lparam);
  }
  IPage* page(PageId id) override {
    return id == PageId::kError ? static_cast<IPage*>(&error_) : &preparing_;
  }
  void setTitle(const string16& title) override {
    if (!headless_) SetWindowTextW(dialog_, wide(title));
  }
  void placePage(IPage* page, IPage* previous) override {
    auto* next = static_cast<PageWin*>(page);
    auto* prev = static_cast<PageWin*>(previous);
    if (headless_ || !next->hwnd()) return;
    EnableWindow(next->hwnd(), TRUE);
    ShowWindow(next->hwnd(), SW_SHOW);
    if (prev && prev->hwnd()) {
      ShowWindow(prev->hwnd(), SW_HIDE);
      EnableWindow(prev->hwnd(), FALSE);
      prev->hide();
    }
    SetFocus(next->hwnd());
    // The dialog's client area takes the page's size.
    RECT client;
    GetClientRect(next->hwnd(), &client);
    RECT frame = client;
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_EXSTYLE)));
    SetWindowPos(dialog_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(next->hwnd(), nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void close(int exitCode) override {
    if (dialog_) {
      HWND window = dialog_;
      dialog_ = nullptr;
      postTarget_ = nullptr;  // reports arriving from now on are dropped
      DestroyWindow(window);
    }
    PostQuitMessage(exitCode);
  }
  bool interactive() const override { return !headless_; }

 private:
  void initialize() {
    postTarget_ = dialog_;
    if (dlg_->hasTestControl()) SetTimer(dialog_, kTestControlTimer, kTestControlMs, nullptr);
    dlg_->initDialog();
  }

  bool onMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_TIMER && wparam == kTestControlTimer) {
      dlg_->pollTestControl();
      return true;
    }
    if (msg == WM_COMMAND) return dlg_->handleMessage(kMsgCommand, LOWORD(wparam), 0);
    if ((msg == kMsgJobDone || msg == kMsgJobFailed) && lparam != kJobReportTag) return false;
    return dlg_->handleMessage(msg, wparam, lparam);
  }

  static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_INITDIALOG) {
      auto* self = reinterpret_cast<DialogHost*>(lparam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, lparam);
      self->dialog_ = hwnd;
      self->initialize();
      return TRUE;
    }
    auto* self = reinterpret_cast<DialogHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || !self->dlg_ || hwnd != self->dialog_) return FALSE;
    return self->onMessage(msg, wparam, lparam) ? TRUE : FALSE;
  }

  static LRESULT CALLBACK headlessProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<DialogHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && self->dlg_ && hwnd == self->dialog_ && self->onMessage(msg, wparam, lparam)) return 0;
    return DefWindowProcW(hwnd, msg, wparam, lparam);
  }

  bool createHeadlessWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &DialogHost::headlessProc;
    wc.hInstance = instance();
    wc.lpszClassName = kHeadlessClass;
    RegisterClassW(&wc);
    dialog_ = CreateWindowExW(0, kHeadlessClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance(), nullptr);
    if (!dialog_) {
      LOGF(ERROR, "Can't create a message window: %lu", GetLastError());
      return false;
    }
    headless_ = true;
    SetWindowLongPtrW(dialog_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return true;
  }

  HWND dialog_ = nullptr;
  std::atomic<HWND> postTarget_{nullptr};  // read by the workers
  bool headless_ = false;
  CPagePreparing preparing_;
  CPageError error_;
  std::unique_ptr<CMainDlg> dlg_;
};

}  // namespace

int runSupportTool() {
  takeStandardHandles();
  initializeSupportTrace();
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  int code;
  {
    DialogHost host;
    code = host.run();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return code;
}

}  // namespace support
