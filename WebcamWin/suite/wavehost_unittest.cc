// The wave service client against a real service (Windows: one registered
// with the service control manager; Linux: a stand-in serving the daemon's
// control socket), the device names in the registry, and the shell
// services' pause / ping / continue around a phone.
#include "WebcamWin/suite/wavehost.h"

#include <gtest/gtest.h>

#include "WebcamWin/suite/shell_services.h"
#include "WebcamWin/testing/shell_test_util.h"
#include "WebcamWin/testing/test_wave_service.h"
#include "base/reg_key.h"

namespace {

using Codes = std::vector<uint32_t>;
constexpr int kWaitMs = 60000;

class WaveHostRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(base::beginRegistryOverrideForTesting()); }
  void TearDown() override { base::endRegistryOverrideForTesting(); }
};

TEST_F(WaveHostRegistryTest, DeviceNamesRoundTripAndBadValuesReadEmpty) {
  EXPECT_EQ(u"", CWaveHost::inputDeviceName());  // no key yet
  ASSERT_TRUE(CWaveHost::setInputDeviceName(u"Microphone (USB Audio) \u00e9"));
  ASSERT_TRUE(CWaveHost::setOutputDeviceName(u"Speakers"));
  EXPECT_EQ(u"Microphone (USB Audio) \u00e9", CWaveHost::inputDeviceName());
  EXPECT_EQ(u"Speakers", CWaveHost::outputDeviceName());

  base::RegKey key;
  ASSERT_EQ(base::kRegOk, key.open(base::RegRoot::kCurrentUser, kWaveServiceKey));
  ASSERT_EQ(base::kRegOk, key.writeValueDW(kInputDeviceValue, 7));
  EXPECT_EQ(u"", CWaveHost::inputDeviceName());  // a number is no name
  // 511 characters and the terminating zero fit the 1024 bytes; one more does not.
  const base::string16 longest(511, u'a');
  ASSERT_TRUE(CWaveHost::setOutputDeviceName(longest));
  EXPECT_EQ(longest, CWaveHost::outputDeviceName());
  ASSERT_TRUE(CWaveHost::setOutputDeviceName(longest + u"b"));
  EXPECT_EQ(u"", CWaveHost::outputDeviceName());
}

class WaveHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The shell services' update check must stay on this machine.
    env_.set("LUMORA_UPDATE_URL", "http://127.0.0.1:1/");
  }
  shell_test::ScopedEnvironment env_;
  shell_test::LogCapture log_;
  TestWaveService service_;
};

TEST_F(WaveHostTest, WithoutTheServiceNothingIsSent) {
  CWaveHost client;
  EXPECT_FALSE(client.open());
  EXPECT_TRUE(client.notInstalled());
  EXPECT_FALSE(client.opened());
  EXPECT_EQ(-1, client.state());
  EXPECT_FALSE(client.pause());
  EXPECT_TRUE(log_.contains("OpenService() failed with error 0x424:"));
  EXPECT_TRUE(log_.contains("Service not opened"));

  base::MessageLoop loop;
  ShellServices services(nullptr);
  services.start();
  EXPECT_TRUE(log_.contains("'Lumora Wave Service' doesn't exists"));
  services.onAccepted();
  EXPECT_FALSE(services.keepingAlive());
  services.onDestroy();
}

TEST_F(WaveHostTest, ControlCodesReachTheRunningService) {
  ASSERT_TRUE(service_.install());
  ASSERT_TRUE(service_.start());
  CWaveHost client;
  ASSERT_TRUE(client.open());
  EXPECT_FALSE(client.notInstalled());
  EXPECT_TRUE(log_.contains("'Lumora Wave Service' is opened successfully. Status: 4"));
  EXPECT_TRUE(client.open());
  EXPECT_TRUE(log_.contains("Looks like service already opened"));
  EXPECT_EQ(kServiceRunning, client.state());
  EXPECT_TRUE(client.isRunning());
  EXPECT_TRUE(client.pause());
  EXPECT_TRUE(client.ping());
  EXPECT_TRUE(client.resume());
  EXPECT_TRUE(client.openDevice());
  ASSERT_TRUE(service_.waitForControls(4, kWaitMs));
  EXPECT_EQ((Codes{201, 200, 202, 203}), service_.controls());

  // Stopped: the state says so and nothing more is sent.
  ASSERT_TRUE(service_.stop());
  EXPECT_EQ(kServiceStopped, client.state());
  EXPECT_FALSE(client.pause());
  EXPECT_TRUE(log_.contains("Service is not running"));
  client.close();
  EXPECT_FALSE(client.opened());
  EXPECT_EQ((Codes{201, 200, 202, 203}), service_.controls());
}

TEST_F(WaveHostTest, AcceptedPhonePausesAndPingsTheBridgeUntilItLeaves) {
  ASSERT_TRUE(service_.install());
  ASSERT_TRUE(service_.start());
  base::MessageLoop loop;
  ShellServices services(nullptr);
  services.start();
  ASSERT_TRUE(services.waveService().opened());

  services.onAccepted();
  EXPECT_TRUE(services.keepingAlive());
  // Two pings at 500 ms apart after the pause.
  ASSERT_TRUE(shell_test::pumpUntil(&loop, [&] { return service_.controls().size() >= 3; }, kWaitMs));
  Codes codes = service_.controls();
  EXPECT_EQ((Codes{201, 200, 200}), Codes(codes.begin(), codes.begin() + 3));

  services.onConnectionLost();
  EXPECT_FALSE(services.keepingAlive());
  ASSERT_TRUE(service_.waitForControls(codes.size() + 1, kWaitMs));
  codes = service_.controls();
  EXPECT_EQ(202u, codes.back());
  // No ping follows the continue.
  loop.runFor(1200);
  EXPECT_EQ(codes, service_.controls());
  services.onDestroy();
}

TEST_F(WaveHostTest, ServiceStartedDuringACallIsPausedByTheNextTick) {
  ASSERT_TRUE(service_.install());
  base::MessageLoop loop;
  ShellServices services(nullptr);
  services.start();
  ASSERT_TRUE(services.waveService().opened());  // installed, not running
  services.onAccepted();
  EXPECT_TRUE(services.keepingAlive());
  EXPECT_TRUE(service_.controls().empty());

  ASSERT_TRUE(service_.start());
  ASSERT_TRUE(shell_test::pumpUntil(&loop, [&] { return service_.controls().size() >= 2; }, kWaitMs));
  const Codes codes = service_.controls();
  EXPECT_EQ((Codes{201, 200}), Codes(codes.begin(), codes.begin() + 2));

  // Closing the window lets the bridge run again.
  services.onDestroy();
  ASSERT_TRUE(service_.waitForControls(codes.size() + 1, kWaitMs));
  EXPECT_EQ(202u, service_.controls().back());
}

// The window's client found no service at start; a device change made
// later still reaches the service once it is there and runs.
TEST_F(WaveHostTest, DeviceChangeReachesAServiceInstalledAfterTheStart) {
  base::MessageLoop loop;
  ShellServices services(nullptr);
  services.start();
  ASSERT_FALSE(services.waveService().opened());
  EXPECT_FALSE(services.reloadWaveDevices());

  ASSERT_TRUE(service_.install());
  EXPECT_FALSE(services.reloadWaveDevices());  // installed, not started
  EXPECT_TRUE(log_.contains("Service is not running"));
  ASSERT_TRUE(service_.start());
  EXPECT_TRUE(services.reloadWaveDevices());
  ASSERT_TRUE(service_.waitForControls(1, kWaitMs));
  EXPECT_EQ(Codes{WAVE_SERVICE_OPEN_DEVICE}, service_.controls());
  services.onDestroy();
}

TEST(WaveHostDevicesTest, ListsLeaveTheVirtualDeviceOut) {
  for (const auto& name : CWaveHost::inputDevices())
    EXPECT_EQ(base::string16::npos, name.find(u"Lumora Wave Audio Device"));
  for (const auto& name : CWaveHost::outputDevices())
    EXPECT_EQ(base::string16::npos, name.find(u"Lumora Wave Audio Device"));
}

}  // namespace
