// BonjourService against the real DNS-SD service of Linux: avahi's
// compatibility library and a running avahi-daemon (the dnssd_daemons test
// fixture starts it). Skipped when the daemon cannot be reached.
#include <gtest/gtest.h>

#include <string>

#include "base/bonjour_service.h"
#include "base/file_util.h"
#include "base/logging.h"
#include "base/socket.h"
#include "base/test_util.h"

namespace {

constexpr char16_t kType[] = u"_lumora_webcam._tcp";

class Waiter : public BonjourService::Delegate {
 public:
  void onServicePublished(BonjourService*) override { published = true; }
  void onServicePublishFailed(BonjourService*) override { failed = true; }
  bool published = false, failed = false;
};

// What avahi-browse resolves for the service type, one line per address.
std::string browse() { return base::commandOutput("avahi-browse -rtpk _lumora_webcam._tcp 2>/dev/null"); }

class BonjourAvahiTest : public ::testing::Test {
 protected:
  // The library stays loaded, as in the program until its very end, so that
  // what it keeps for the process is told apart from our leaks.
  void SetUp() override {
    base::initializeSockets();
    ASSERT_TRUE(log_.active());
    if (!base::dnssd::loadSystemLibrary()) GTEST_SKIP() << "no libdns_sd.so.1";
  }
  std::string log() { return log_.contents(); }
  // Pumps until the service has an outcome.
  bool settle(const Waiter& waiter) {
    for (int i = 0; i < 200 && !waiter.published && !waiter.failed; ++i) loop_.runFor(50);
    return waiter.published || waiter.failed;
  }
  // A port that is ours for the test's duration, so that the records are.
  uint16_t uniquePort() {
    int32_t error = 0;
    listener_ = base::socketListen(0, true, &error);
    std::string address;
    uint16_t port = 0;
    base::socketLocalAddress(listener_, &address, &port);
    return port;
  }

  base::LogCapture log_{u"bonjour-avahi"};
  base::MessageLoop loop_;
  base::SocketHandle listener_ = base::kInvalidSocket;
};

TEST_F(BonjourAvahiTest, PublishesUnderTheComputersNameAndWithdraws) {
  const uint16_t port = uniquePort();
  Waiter waiter;
  BonjourService service(u"local", kType, u"", port);
  service.setDelegate(&waiter);
  service.publish();
  ASSERT_TRUE(settle(waiter));
  if (waiter.failed) GTEST_SKIP() << "avahi-daemon not reachable: " << log();
  EXPECT_FALSE(service.name().empty());
  EXPECT_NE(std::string::npos, log().find("Name now registered and active '" + base::wideToUtf8(service.name()) + "'"));

  const std::string seen = browse();
  EXPECT_NE(std::string::npos, seen.find(";" + std::to_string(port) + ";")) << seen;

  service.stop();
  // The daemon forgets the records after its good-bye announcement.
  bool gone = false;
  for (int i = 0; i < 20 && !gone; ++i) {
    loop_.runFor(250);
    gone = browse().find(";" + std::to_string(port) + ";") == std::string::npos;
  }
  EXPECT_TRUE(gone);
  base::socketClose(listener_);
}

TEST_F(BonjourAvahiTest, ASecondRegistrationOfTheSameNameIsRefused) {
  const uint16_t port = uniquePort();
  const base::string16 name = u"lumora-test-" + base::utf8ToWide(std::to_string(port));
  Waiter first, second;
  BonjourService one(u"local", kType, name, port);
  one.setDelegate(&first);
  one.publish();
  ASSERT_TRUE(settle(first));
  if (first.failed) GTEST_SKIP() << "avahi-daemon not reachable: " << log();

  BonjourService two(u"local", kType, name, static_cast<uint16_t>(port + 1));
  two.setDelegate(&second);
  two.publish();
  ASSERT_TRUE(settle(second));
  EXPECT_TRUE(second.failed);
  EXPECT_FALSE(second.published);
  EXPECT_NE(std::string::npos, log().find("Name already in use")) << log();
  EXPECT_EQ(name, one.name());
  base::socketClose(listener_);
}

}  // namespace
