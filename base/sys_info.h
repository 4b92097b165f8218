// What the PC tells about itself: the operating-system description and
// version sent in the handshake, and the system's text for an error code.
#ifndef BASE_SYS_INFO_H_
#define BASE_SYS_INFO_H_

#include <cstdint>
#include <string>

#include "base/string_util.h"

namespace base {

// Windows: "Microsoft Windows 7 Professional Edition, 64-bit Service Pack 1
// (build 7601)" and the like. Linux: kernel and distribution, for example
// "Linux 6.1.0 Debian GNU/Linux 12 (bookworm)". Empty when unknown.
std::string operatingSystemName();
// "major.minor" of the system version (Linux: of the kernel).
std::string operatingSystemVersion();

// The system's message for an error code, or "message number <code>".
string16 systemErrorText(int32_t code);

// The Windows version record the name is composed from (filled by
// GetVersionExA, GetNativeSystemInfo, GetProductInfo and
// GetSystemMetrics(SM_SERVERR2) in the Windows build).
struct WindowsVersionInfo {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  std::string servicePack;      // "Service Pack 1" or empty
  uint16_t suiteMask = 0;       // VER_SUITE_*
  uint8_t productType = 0;      // VER_NT_WORKSTATION = 1, ...
  uint16_t processorArchitecture = 0;  // PROCESSOR_ARCHITECTURE_*
  uint32_t productInfo = 0;     // GetProductInfo's edition number
  int32_t serverR2 = 0;         // GetSystemMetrics(SM_SERVERR2)
};

// The display name of a Windows version; pure so it can be tested anywhere.
std::string composeWindowsName(const WindowsVersionInfo& info);

}  // namespace base

#endif  // BASE_SYS_INFO_H_
