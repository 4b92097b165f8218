#include "base/sys_info.h"

#include "base/string_util.h"

namespace base {
namespace {

constexpr uint8_t kWorkstation = 1;  // VER_NT_WORKSTATION
constexpr uint16_t kSuiteEnterprise = 0x0002;
constexpr uint16_t kSuiteDatacenter = 0x0080;
constexpr uint16_t kSuitePersonal = 0x0200;
constexpr uint16_t kSuiteBlade = 0x0400;
constexpr uint16_t kSuiteStorageServer = 0x2000;
constexpr uint16_t kSuiteComputeServer = 0x4000;
constexpr uint16_t kSuiteHomeServer = 0x8000;
constexpr uint16_t kArchX86 = 0;
constexpr uint16_t kArchIa64 = 6;
constexpr uint16_t kArchX64 = 9;

const char* editionName(uint32_t product, uint32_t minor) {
  switch (product) {
    case 1: return "Ultimate Edition";
    case 2: return "Home Basic Edition";
    case 3: return "Home Premium Edition";
    case 4:
    case 10: return "Enterprise Edition";
    case 6: return minor == 1 ? "Professional Edition" : "Business Edition";
    case 7: return "Standard Edition";
    case 8: return "Datacenter Edition";
    case 9: return "Small Business Server";
    case 11: return "Starter Edition";
    case 12: return "Datacenter Edition (core installation)";
    case 13: return "Standard Edition (core installation)";
    case 14: return "Enterprise Edition (core installation)";
    case 15: return "Enterprise Edition for Itanium-based Systems";
    case 17: return "Web Server Edition";
    case 18: return "Cluster Server Edition";
    case 25: return "Small Business Server Premium Edition";
  }
  return "";
}

}  // namespace

std::string composeWindowsName(const WindowsVersionInfo& v) {
  const bool workstation = v.productType == kWorkstation;
  const auto suite = [&](uint16_t bit) { return (v.suiteMask & bit) != 0; };
  std::string out = "Microsoft ";
  if (v.major == 6) {
    if (v.minor == 0) out += workstation ? "Windows Vista " : "Windows Server 2008 ";
    else if (v.minor == 1) out += workstation ? "Windows 7 " : "Windows Server 2008 R2 ";
    out += editionName(v.productInfo, v.minor);
    if (v.processorArchitecture == kArchX64) out += ", 64-bit";
    else if (v.processorArchitecture == kArchX86) out += ", 32-bit";
  } else if (v.major == 5 && v.minor == 2) {
    if (v.serverR2 != 0) out += "Windows Server 2003 R2, ";
    else if (suite(kSuiteStorageServer)) out += "Windows Storage Server 2003";
    else if (suite(kSuiteHomeServer)) out += "Windows Home Server";
    else if (workstation && v.processorArchitecture == kArchX64)
      out += "Windows XP Professional x64 Edition";
    else out += "Windows Server 2003, ";
    if (!workstation) {
      if (v.processorArchitecture == kArchIa64) {
        if (suite(kSuiteDatacenter)) out += "Datacenter Edition for Itanium-based Systems";
        else if (suite(kSuiteEnterprise)) out += "Enterprise Edition for Itanium-based Systems";
      } else if (v.processorArchitecture == kArchX64) {
        if (suite(kSuiteDatacenter)) out += "Datacenter x64 Edition";
        else if (suite(kSuiteEnterprise)) out += "Enterprise x64 Edition";
        else out += "Standard x64 Edition";
      } else {
        if (suite(kSuiteComputeServer)) out += "Compute Cluster Edition";
        else if (suite(kSuiteDatacenter)) out += "Datacenter Edition";
        else if (suite(kSuiteEnterprise)) out += "Enterprise Edition";
        else if (suite(kSuiteBlade)) out += "Web Edition";
        else out += "Standard Edition";
      }
    }
  } else if (v.major == 5 && v.minor == 1) {
    out += "Windows XP ";
    out += suite(kSuitePersonal) ? "Home Edition" : "Professional";
  } else if (v.major == 5 && v.minor == 0) {
    out += "Windows 2000 ";
    if (workstation) out += "Professional";
    else if (suite(kSuiteDatacenter)) out += "Datacenter Server";
    else if (suite(kSuiteEnterprise)) out += "Advanced Server";
    else out += "Server";
  }
  if (!v.servicePack.empty()) out += " " + v.servicePack;
  out += stringPrintf(" (build %u)", v.build);
  return out;
}

}  // namespace base
