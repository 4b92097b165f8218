#include <windows.h>

#include "base/logging.h"
#include "base/sys_info.h"
#include "base/win_util.h"

namespace base {

std::string operatingSystemName() {
  OSVERSIONINFOEXA osvi;
  ZeroMemory(&osvi, sizeof(osvi));
  osvi.dwOSVersionInfoSize = sizeof(osvi);
  if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&osvi))) {
    LOG(WARNING) << "Unsupported windows version";
    return std::string();
  }
  SYSTEM_INFO si;
  ZeroMemory(&si, sizeof(si));
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  using NativeInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  auto nativeInfo = reinterpret_cast<NativeInfoFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "GetNativeSystemInfo")));
  if (nativeInfo) nativeInfo(&si);
  else ::GetSystemInfo(&si);

  WindowsVersionInfo info;
  info.major = osvi.dwMajorVersion;
  info.minor = osvi.dwMinorVersion;
  info.build = osvi.dwBuildNumber;
  info.servicePack = osvi.szCSDVersion;
  info.suiteMask = osvi.wSuiteMask;
  info.productType = osvi.wProductType;
  info.processorArchitecture = si.wProcessorArchitecture;
  info.serverR2 = ::GetSystemMetrics(SM_SERVERR2);
  if (info.major >= 6) {
    using ProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
    auto productInfo = reinterpret_cast<ProductInfoFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "GetProductInfo")));
    DWORD type = 0;
    if (productInfo && productInfo(6, 0, 0, 0, &type)) info.productInfo = type;
  }
  return composeWindowsName(info);
}

std::string operatingSystemVersion() {
  OSVERSIONINFOW osvi;
  ZeroMemory(&osvi, sizeof(osvi));
  osvi.dwOSVersionInfoSize = sizeof(osvi);
  if (!::GetVersionExW(&osvi)) return "0.0";
  return stringPrintf("%lu.%lu", static_cast<unsigned long>(osvi.dwMajorVersion),
                      static_cast<unsigned long>(osvi.dwMinorVersion));
}

string16 systemErrorText(int32_t code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0 || !text) {
    if (text) ::LocalFree(text);
    return asciiToWide(stringPrintf("message number %d", code));
  }
  string16 out = fromWide(text, n);
  ::LocalFree(text);
  // The system's texts end with a line break; a log line must not.
  while (!out.empty() && (out.back() == u'\n' || out.back() == u'\r' || out.back() == u' '))
    out.pop_back();
  return out;
}

}  // namespace base
