#include "WebcamWin/support/support_site.h"

#include <gtest/gtest.h>

namespace support {
namespace {

TEST(EscapeTest, SegmentEscapingKeepsValuesInsideTheirParameter) {
  EXPECT_EQ(u"iPhone%2012%20Pro%2FMax", escapeUrlSegment(u"iPhone 12 Pro/Max"));
  EXPECT_EQ(u"%3F%23%26", escapeUrlSegment(u"?#&"));
  EXPECT_EQ(u"100%25%2B1", escapeUrlSegment(u"100%+1"));
  EXPECT_EQ(u"%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D", escapeUrlSegment(u"\"<>\\^`{|}[]"));
  EXPECT_EQ(u"%0D%0A%09", escapeUrlSegment(u"\r\n\t"));
  EXPECT_EQ(u"iOS-v17.2_(a)~*!'$,;=:@", escapeUrlSegment(u"iOS-v17.2_(a)~*!'$,;=:@"));
  // Outside ASCII: the UTF-8 bytes.
  EXPECT_EQ(u"Jos%C3%A9%E2%80%99s", escapeUrlSegment(u"Jos\u00e9\u2019s"));
  EXPECT_EQ(u"", escapeUrlSegment(u""));
}

TEST(SupportFormAddressTest, ParametersInOrderAndEmptyOnesLeftOut) {
  SupportFormFacts facts;
  facts.supportForm = u"http://www.lumora.example/en/support/support.php?form=zuviridar_iphone";
  facts.version = u"2.2.0.0";
  facts.windows = u"Microsoft Windows 7 (build 7601)";
  facts.device = u"iPhone 12/Pro";
  facts.deviceOs = u"iOS v17.2";
  facts.userFile = u"Log-2024.txt.gz";
  EXPECT_EQ(
      u"http://www.lumora.example/en/support/support.php?form=zuviridar_iphone"
      u"&version=2.2.0.0&windows=Microsoft%20Windows%207%20(build%207601)"
      u"&device=iPhone%2012%2FPro&device_os=iOS%20v17.2&userfile=Log-2024.txt.gz",
      buildSupportFormAddress(facts));

  facts.windows.clear();
  facts.device.clear();
  facts.userFile.clear();
  EXPECT_EQ(u"http://www.lumora.example/en/support/support.php?form=zuviridar_iphone"
            u"&version=2.2.0.0&device_os=iOS%20v17.2",
            buildSupportFormAddress(facts));
}

TEST(SupportFormAddressTest, FormWithoutQueryStillGetsAmpersands) {
  SupportFormFacts facts;
  facts.supportForm = u"http://h/form";
  facts.version = u"1";
  EXPECT_EQ(u"http://h/form&version=1", buildSupportFormAddress(facts));
  EXPECT_EQ(u"", buildSupportFormAddress(SupportFormFacts()));
}

TEST(SupportSiteTest, HostOverrideWithOptionalPort) {
  EXPECT_TRUE(isValidHostOverride(u"127.0.0.1:8080"));
  EXPECT_TRUE(isValidHostOverride(u"support.lumora.example"));
  EXPECT_TRUE(isValidHostOverride(u"[::1]:80"));
  EXPECT_FALSE(isValidHostOverride(u""));
  EXPECT_FALSE(isValidHostOverride(u"127.0.0.1:"));
  EXPECT_FALSE(isValidHostOverride(u"127.0.0.1:0"));
  EXPECT_FALSE(isValidHostOverride(u"127.0.0.1:65536"));
  EXPECT_FALSE(isValidHostOverride(u"http://127.0.0.1"));
  EXPECT_FALSE(isValidHostOverride(u"host/path"));
  EXPECT_FALSE(isValidHostOverride(u"[::1"));

  const SupportSite local = supportSite(u"127.0.0.1:8080");
  EXPECT_EQ(u"http://127.0.0.1:8080/", local.webSiteAddress);
  EXPECT_EQ(u"http://127.0.0.1:8080/en/support_device/logs_uploader.php", local.uploadAddress);
  const SupportSite fallback = supportSite(u"not a host");
  EXPECT_EQ(u"http://www.lumora.example/", fallback.webSiteAddress);
  EXPECT_EQ(u"http://www.lumora.example/en/support_device/logs_uploader.php",
            supportSite(u"").uploadAddress);
}

TEST(SupportSiteTest, SystemDescriptionIsBounded) {
  EXPECT_LE(operatingSystemDescription().size(), 255u);
}

}  // namespace
}  // namespace support
