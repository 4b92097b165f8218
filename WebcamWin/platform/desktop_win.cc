// Windows side of the desktop helpers: shell folders, the priority class,
// COM, GDI+ and the common controls, the shell's "open" verb.
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


#include "WebcamWin/platform/desktop.h"
#include "base/file_util.h"
#include "base/logging.h"

namespace shell {
namespace {

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

void keepLogOffTerminal() {}

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

}  // namespace shell
