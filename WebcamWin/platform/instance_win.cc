// Windows side of the single-instance lock: a named mutex, and the running
// instance's main window found by its class name.
#include <windows.h>

#include "WebcamWin/platform/instance.h"

namespace shell {
namespace {

constexpr UINT kCloseTimeoutMs = 10000;

const wchar_t* w(const base::string16& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

}  // namespace

struct InstanceLock::Impl {
  ~Impl() {
    if (mutex) ::CloseHandle(mutex);
  }
  HANDLE mutex = nullptr;
};

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;

bool InstanceLock::acquire(const base::string16& name) {
  if (impl_) return true;
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, w(name));
  if (!mutex) return false;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    return false;
  }
  impl_ = std::make_unique<Impl>();
  impl_->mutex = mutex;
  return true;
}

bool InstanceLock::serveRequests(Handler) { return impl_ != nullptr; }  // window messages

void InstanceLock::stopServing() {}

bool instanceRunning(const base::string16& name) {
  return ::FindWindowW(w(name), nullptr) != nullptr;
}

bool sendToInstance(const base::string16& name, const InstanceRequest& request, bool* reached) {
  if (reached) *reached = false;
  HWND window = ::FindWindowW(w(name), nullptr);
  if (!window) return false;
  if (request.kind == InstanceRequest::kAnswer) {
    DWORD_PTR result = 0;
    // The instance drops the answer if it only gets to it after we gave up.
    const DWORD deadline = ::GetTickCount() + kCloseTimeoutMs;
    if (!::SendMessageTimeoutW(window, kMsgAnswerRequest, request.param, static_cast<LPARAM>(deadline), SMTO_NORMAL,
                               kCloseTimeoutMs, &result)) {
      return false;
    }
    if (reached) *reached = true;
    return result == 1;
  }
  if (reached) *reached = true;
  if (request.kind == InstanceRequest::kShow) {
    ::ShowWindow(window, SW_SHOWNORMAL);
    ::SetForegroundWindow(window);
    return true;
  }
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutW(window, WM_CLOSE, request.param, 0, SMTO_NORMAL, kCloseTimeoutMs,
                               &result) != 0;
}

}  // namespace shell
