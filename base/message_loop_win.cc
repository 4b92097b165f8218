// Windows message loop: each MessageWindow is a message-only window
// (HWND_MESSAGE) of a class registered once with this module; the object
// pointer sits in the window's user data. Posted messages are PostMessageW,
// timers SetTimer, socket events WSAAsyncSelect; GetMessage/DispatchMessage
// pump them.
#include <winsock2.h>
#include <windows.h>

#include <mutex>
#include <set>

#include "base/logging.h"
#include "base/message_loop.h"
#include "base/win_util.h"

namespace base {

struct MessageWindow::Impl {
  HWND hwnd = nullptr;
  Handler* handler = nullptr;
};

namespace {

thread_local MessageLoop* tlsLoop = nullptr;

HINSTANCE moduleHandle() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleHandle), &module);
  return module;
}

LRESULT CALLBACK messageWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* impl = reinterpret_cast<MessageWindow::Impl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (impl && impl->handler && (msg == WM_TIMER || msg >= WM_USER)) {
    try {
      impl->handler->onWindowMessage(msg, wparam, lparam);
    } catch (const std::exception& e) {
      LOG(ERROR) << "Exception in window message handler: " << e.what();
    } catch (...) {
      LOG(ERROR) << "Exception in window message handler";
    }
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

bool registerClassOnce(const char16_t* className) {
  static std::mutex mutex;
  static std::set<string16> registered;
  std::lock_guard<std::mutex> lock(mutex);
  const string16 name = className ? className : u"com.quillonlabs.message_window";
  if (registered.count(name)) return true;
  WNDCLASSEXW wc;
  ZeroMemory(&wc, sizeof(wc));
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = messageWindowProc;
  wc.hInstance = moduleHandle();
  wc.lpszClassName = wstr(name);
  if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    LOG(ERROR) << "RegisterClassExW failed: " << ::GetLastError();
    return false;
  }
  registered.insert(name);
  return true;
}

// Handles one message; true when it was WM_QUIT (its code in *code).
bool dispatch(const MSG& msg, int* code) {
  if (msg.message == WM_QUIT) {
    *code = static_cast<int>(msg.wParam);
    return true;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
  return false;
}

}  // namespace

MessageWindow::MessageWindow(const char16_t* className, Handler* handler)
    : impl_(std::make_unique<Impl>()) {
  impl_->handler = handler;
  const char16_t* name = className ? className : u"com.quillonlabs.message_window";
  if (!registerClassOnce(name)) return;
  impl_->hwnd = ::CreateWindowExW(0, reinterpret_cast<const wchar_t*>(name), L"", 0, 0, 0, 0, 0,
                                  HWND_MESSAGE, nullptr, moduleHandle(), nullptr);
  if (!impl_->hwnd) {
    LOG(ERROR) << "CreateWindowExW failed: " << ::GetLastError();
    return;
  }
  ::SetWindowLongPtrW(impl_->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl_.get()));
}

MessageWindow::~MessageWindow() {
  if (impl_->hwnd) {
    ::SetWindowLongPtrW(impl_->hwnd, GWLP_USERDATA, 0);
    ::DestroyWindow(impl_->hwnd);  // its posted messages and timers go with it
  }
}

bool MessageWindow::valid() const { return impl_->hwnd != nullptr; }

bool MessageWindow::post(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  return impl_->hwnd && ::PostMessageW(impl_->hwnd, msg, wparam, lparam);
}

bool MessageWindow::setTimer(uintptr_t id, uint32_t ms) {
  return impl_->hwnd && ::SetTimer(impl_->hwnd, id, ms, nullptr) != 0;
}

void MessageWindow::killTimer(uintptr_t id) {
  if (impl_->hwnd) ::KillTimer(impl_->hwnd, id);
}

bool MessageWindow::selectSocket(SocketHandle socket, uint32_t msg, uint32_t events) {
  if (!impl_->hwnd) return false;
  return ::WSAAsyncSelect(static_cast<SOCKET>(socket), impl_->hwnd, events ? msg : 0,
                          static_cast<long>(events)) == 0;
}

void* MessageWindow::nativeHandle() const { return impl_->hwnd; }

struct MessageLoop::Impl {
  DWORD threadId = 0;
  MessageLoop* previous = nullptr;
};

MessageLoop::MessageLoop() : impl_(std::make_unique<Impl>()) {
  impl_->threadId = ::GetCurrentThreadId();
  impl_->previous = tlsLoop;
  tlsLoop = this;
  MSG msg;
  ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // make sure the queue exists
}

MessageLoop::~MessageLoop() { tlsLoop = impl_->previous; }

MessageLoop* MessageLoop::current() { return tlsLoop; }

int MessageLoop::run() {
  MSG msg;
  int code = 0;
  for (;;) {
    const BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
    if (r == -1) return -1;
    if (r == 0) return static_cast<int>(msg.wParam);
    if (dispatch(msg, &code)) return code;
  }
}

void MessageLoop::quit(int code) {
  if (::GetCurrentThreadId() == impl_->threadId) ::PostQuitMessage(code);
  else ::PostThreadMessageW(impl_->threadId, WM_QUIT, static_cast<WPARAM>(code), 0);
}

bool MessageLoop::runFor(uint32_t ms) {
  const ULONGLONG deadline = ::GetTickCount64() + ms;
  MSG msg;
  int code = 0;
  // Messages that keep coming (a busy socket, a handler that posts again)
  // do not hold the caller long past its deadline; what was waiting is
  // still handled, up to this many.
  constexpr int kMessagesBeforeDeadlineCheck = 1000;
  int handled = 0;
  for (;;) {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (dispatch(msg, &code)) return true;
      if (++handled >= kMessagesBeforeDeadlineCheck && ::GetTickCount64() >= deadline) return false;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }
}

void MessageLoop::setForeignPump(std::function<void()>, uint32_t) {}

void MessageLoop::runUntilIdle() {
  MSG msg;
  int code = 0;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (dispatch(msg, &code)) {
      ::PostQuitMessage(code);  // keep the request for the run() that owns it
      return;
    }
  }
}

}  // namespace base
