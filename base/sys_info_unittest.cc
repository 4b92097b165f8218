#include "base/sys_info.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(SysInfo, WindowsNames) {
  WindowsVersionInfo seven;
  seven.major = 6;
  seven.minor = 1;
  seven.build = 7601;
  seven.servicePack = "Service Pack 1";
  seven.productType = 1;
  seven.processorArchitecture = 9;
  seven.productInfo = 6;
  EXPECT_EQ(composeWindowsName(seven),
            "Microsoft Windows 7 Professional Edition, 64-bit Service Pack 1 (build 7601)");

  WindowsVersionInfo vista = seven;
  vista.minor = 0;
  vista.processorArchitecture = 0;
  vista.servicePack.clear();
  EXPECT_EQ(composeWindowsName(vista), "Microsoft Windows Vista Business Edition, 32-bit (build 7601)");

  WindowsVersionInfo r2;
  r2.major = 5;
  r2.minor = 2;
  r2.build = 3790;
  r2.productType = 3;
  r2.serverR2 = 1;
  r2.processorArchitecture = 9;
  r2.suiteMask = 0x80;
  EXPECT_EQ(composeWindowsName(r2), "Microsoft Windows Server 2003 R2, Datacenter x64 Edition (build 3790)");
  WindowsVersionInfo xp64 = r2;
  xp64.serverR2 = 0;
  xp64.productType = 1;
  EXPECT_EQ(composeWindowsName(xp64), "Microsoft Windows XP Professional x64 Edition (build 3790)");

  WindowsVersionInfo xp;
  xp.major = 5;
  xp.minor = 1;
  xp.build = 2600;
  xp.suiteMask = 0x200;
  xp.servicePack = "Service Pack 3";
  EXPECT_EQ(composeWindowsName(xp), "Microsoft Windows XP Home Edition Service Pack 3 (build 2600)");
}

TEST(SysInfo, ThisSystem) {
  EXPECT_FALSE(operatingSystemName().empty());
  unsigned major = 0, minor = 0;
  EXPECT_EQ(std::sscanf(operatingSystemVersion().c_str(), "%u.%u", &major, &minor), 2);
  EXPECT_GT(major, 0u);
  EXPECT_EQ(systemErrorText(0x3FFFFFF0), u"message number 1073741808");
  EXPECT_FALSE(systemErrorText(2).empty());
  EXPECT_NE(systemErrorText(2).rfind(u"message number", 0), 0u);
}

}  // namespace
}  // namespace base
