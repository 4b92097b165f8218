// Windows side of the shell: shell folders, the named mutex, and the running
// instance's main window found by its class name.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

// GDI+ wants min and max of its own.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "WebcamWin/shell.h"
#include "base/file_util.h"
#include "base/logging.h"

namespace shell {
namespace {

constexpr UINT kCloseTimeoutMs = 10000;

const wchar_t* w(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
const wchar_t* w(const base::string16& s) { return w(s.c_str()); }

base::string16 shellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {0};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
    return base::string16();
  return reinterpret_cast<const char16_t*>(path);
}

ULONG_PTR g_gdiplusToken = 0;
bool g_comInitialized = false;

}  // namespace

bool openWithShell(const base::string16& target) {
  const HINSTANCE rc = ::ShellExecuteW(nullptr, L"open", w(target), nullptr, nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(rc) <= 32) {
    LOG(ERROR) << "Can't open " << target << ": " << reinterpret_cast<INT_PTR>(rc);
    return false;
  }
  return true;
}

base::string16 specialFolder(Folder folder) {
  switch (folder) {
    case Folder::kPictures:
      return shellFolder(CSIDL_MYPICTURES);
    case Folder::kVideos:
      return shellFolder(CSIDL_MYVIDEO);
    case Folder::kDocuments:
      return shellFolder(CSIDL_PERSONAL);
  }
  return base::string16();
}

base::string16 logFolder() {
  return base::joinPath(shellFolder(CSIDL_APPDATA),
                        u"Quillon Labs\\Lumora ZuvIridar for iPhone\\logs");
}

bool raisePriority(int32_t* error) {
  if (::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS)) return true;
  *error = static_cast<int32_t>(::GetLastError());
  return false;
}

void initializeInterfaceLibraries() {
  g_comInitialized = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  Gdiplus::GdiplusStartupInput input;  // version 1, default options
  if (Gdiplus::GdiplusStartup(&g_gdiplusToken, &input, nullptr) != Gdiplus::Ok) g_gdiplusToken = 0;
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
}

void shutdownInterfaceLibraries() {
  if (g_gdiplusToken) Gdiplus::GdiplusShutdown(g_gdiplusToken);
  g_gdiplusToken = 0;
  if (g_comInitialized) ::CoUninitialize();
  g_comInitialized = false;
}

void showBuiltInError(const base::string16& text, const base::string16& caption) {
  ::MessageBoxW(nullptr, w(text), w(caption), MB_OK | MB_ICONERROR | MB_TOPMOST);
}

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
    if (!::SendMessageTimeoutW(window, kMsgAnswerRequest, request.param, 0, SMTO_NORMAL,
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
