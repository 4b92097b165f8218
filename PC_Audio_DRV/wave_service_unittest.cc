#include "PC_Audio_DRV/wave_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PC_Audio_DRV/trace.h"
#include "base/reg_key.h"
#include "base/string_util.h"

namespace {

// Counts what the service does to the bridge.
struct BridgeLog {
  int formsCreated = 0;
  int formsAlive = 0;
  int driversOpened = 0;
  int driversAlive = 0;
  int recordingStarts = 0;
  std::vector<std::string> order;
  base::string16 lastInput, lastOutput;
  bool failDriver = false;
  IAudioCallback* sink = nullptr;
  std::vector<uint8_t> played;
  std::vector<uint8_t> written;
};

class FakeForm : public IWaveForm {
 public:
  explicit FakeForm(BridgeLog* log) : log_(log) { ++log_->formsAlive; }
  ~FakeForm() override {
    --log_->formsAlive;
    log_->order.push_back("~form");
  }
  void SetReadCallback(ReadCallback callback, void* context) override {
    callback_ = callback;
    context_ = context;
  }
  bool StartRecording() override {
    ++log_->recordingStarts;
    // Recording delivers at once in this fake.
    const uint8_t tone[4] = {1, 2, 3, 4};
    if (callback_) callback_(context_, tone, sizeof(tone));
    return true;
  }
  void StopRecording() override { log_->order.push_back("stopRecording"); }
  void StopPlaying() override { log_->order.push_back("stopPlaying"); }
  void Out(const uint8_t* bytes, size_t length) override {
    log_->played.insert(log_->played.end(), bytes, bytes + length);
  }

 private:
  BridgeLog* log_;
  ReadCallback callback_ = nullptr;
  void* context_ = nullptr;
};

class FakeDriver : public IDriverLink {
 public:
  explicit FakeDriver(BridgeLog* log) : log_(log) { ++log_->driversAlive; }
  ~FakeDriver() override {
    --log_->driversAlive;
    log_->order.push_back("~driver");
  }
  bool Start() override { return true; }
  void Stop() override { log_->order.push_back("stopDriver"); }
  void Write(const uint8_t* bytes, size_t length) override {
    log_->written.insert(log_->written.end(), bytes, bytes + length);
  }

 private:
  BridgeLog* log_;
};

class FakeFactory : public BridgeFactory {
 public:
  explicit FakeFactory(BridgeLog* log) : log_(log) {}
  std::unique_ptr<IWaveForm> CreateWaveForm(const base::string16& input, const base::string16& output) override {
    log_->lastInput = input;
    log_->lastOutput = output;
    if (input.find(u"Lumora Wave") != base::string16::npos || output.find(u"Lumora Wave") != base::string16::npos)
      return nullptr;
    ++log_->formsCreated;
    return std::make_unique<FakeForm>(log_);
  }
  std::unique_ptr<IDriverLink> OpenDriver(IAudioCallback* sink) override {
    if (log_->failDriver) return nullptr;
    ++log_->driversOpened;
    log_->sink = sink;
    return std::make_unique<FakeDriver>(log_);
  }

 private:
  BridgeLog* log_;
};

class FakeUserNames : public UserDeviceNames {
 public:
  bool read(base::string16* input, base::string16* output) override {
    ++reads;
    if (!present) return false;
    *input = in;
    *output = out;
    return true;
  }
  bool present = true;
  base::string16 in = u"User Mic", out = u"User Speakers";
  int reads = 0;
};

class WaveServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::beginRegistryOverrideForTesting());
    wave::setTraceCaptureForTesting([this](const std::string& line) { traces_.push_back(line); });
    env_.bridge = &factory_;
    env_.userNames = &userNames_;
    // The watchdog's clock: each sleep runs what the test scheduled for it.
    env_.sleepMs = [this](unsigned ms) {
      slept_ += ms;
      if (duringSleep_) duringSleep_();
      return !stopSleeping_;
    };
    env_.raisePriority = [this] { ++priorityRaised_; };
    service_ = std::make_unique<CWaveService>(env_);
  }
  void TearDown() override {
    service_.reset();
    wave::setTraceCaptureForTesting(nullptr);
    base::endRegistryOverrideForTesting();
  }
  void setMachineNames(const base::string16& in, const base::string16& out) {
    base::RegKey key;
    ASSERT_EQ(base::kRegOk, key.create(base::RegRoot::kLocalMachine, kWaveServiceKey));
    ASSERT_EQ(base::kRegOk, key.writeValue(kInputDeviceValue, in));
    ASSERT_EQ(base::kRegOk, key.writeValue(kOutputDeviceValue, out));
  }
  bool traced(const std::string& text) const {
    for (const auto& line : traces_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  void start() {
    ASSERT_TRUE(service_->startService(0, nullptr));
    service_->ServicePause(false);
  }

  BridgeLog log_;
  FakeFactory factory_{&log_};
  FakeUserNames userNames_;
  WaveServiceEnv env_;
  std::unique_ptr<CWaveService> service_;
  std::vector<std::string> traces_;
  std::function<void()> duringSleep_;
  bool stopSleeping_ = false;
  unsigned slept_ = 0;
  int priorityRaised_ = 0;
};

TEST(ConsoleShell, OnlyExplorerByItsExactNameInTheConsoleSession) {
  EXPECT_TRUE(isConsoleShell(u"explorer.exe", 1, 1));
  EXPECT_TRUE(isConsoleShell(u"EXPLORER.EXE", 2, 2));
  EXPECT_TRUE(isConsoleShell(u"Explorer.exe", 2, 2));
  // Names that merely contain it, or differ by a letter.
  for (const char16_t* name : {u"myexplorer.exe", u"explorer.exe.exe", u"explorer.ex", u"explorer.exf", u"explorer",
                               u"", u"xplorer.exe"})
    EXPECT_FALSE(isConsoleShell(name, 1, 1)) << base::wideToUtf8(name);
  // Another session's shell (a second user, or session 0 services).
  EXPECT_FALSE(isConsoleShell(u"explorer.exe", 0, 1));
  EXPECT_FALSE(isConsoleShell(u"explorer.exe", 3, 1));
}

TEST_F(WaveServiceTest, StartupReportsRunningAndRaisesPriority) {
  ASSERT_TRUE(service_->startService(0, nullptr));
  EXPECT_EQ(kStateRunning, service_->currentState());
  EXPECT_EQ(kServiceWin32, service_->status().serviceType);
  EXPECT_EQ(kAcceptStopPauseContinue, service_->status().controlsAccepted);
  EXPECT_EQ(1, priorityRaised_);
  EXPECT_TRUE(traced("Init service"));
}

TEST_F(WaveServiceTest, PauseAndContinueMoveTheBridgeBetweenItsStates) {
  setMachineNames(u"Mic", u"Speakers");
  start();
  EXPECT_TRUE(service_->running());
  EXPECT_EQ(u"Mic", log_.lastInput);
  EXPECT_EQ(u"Speakers", log_.lastOutput);
  EXPECT_EQ(1, log_.formsAlive);
  EXPECT_EQ(1, log_.driversAlive);
  // The recording reached the driver through the installed callback.
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4}), log_.written);
  // The link's playback reaches the form.
  const uint8_t block[2] = {9, 9};
  log_.sink->Write(block, 2);
  EXPECT_EQ((std::vector<uint8_t>{9, 9}), log_.played);

  service_->CtrlHandler(WAVE_SERVICE_PAUSE);
  EXPECT_FALSE(service_->running());
  EXPECT_TRUE(service_->pinged());
  EXPECT_EQ(0, log_.formsAlive);
  EXPECT_EQ(0, log_.driversAlive);
  // Stopped in the order recording, playback, link; then destroyed.
  EXPECT_EQ((std::vector<std::string>{"stopRecording", "stopPlaying", "stopDriver", "~driver", "~form"}), log_.order);
  EXPECT_EQ(kStateRunning, service_->currentState());  // custom codes leave the status alone

  traces_.clear();
  service_->CtrlHandler(WAVE_SERVICE_PAUSE);
  EXPECT_TRUE(traced("Not runing. Nothing to do."));

  service_->CtrlHandler(WAVE_SERVICE_CONTINUE);
  EXPECT_TRUE(service_->running());
  EXPECT_EQ(2, log_.formsCreated);
  traces_.clear();
  service_->CtrlHandler(WAVE_SERVICE_CONTINUE);
  EXPECT_EQ(2, log_.formsCreated);
  EXPECT_EQ(1, log_.driversAlive);
  EXPECT_TRUE(traced("Did start"));
}

TEST_F(WaveServiceTest, SystemPauseAndContinueSetTheReportedState) {
  setMachineNames(u"Mic", u"Speakers");
  start();
  service_->CtrlHandler(kControlPause);
  EXPECT_EQ(kStatePaused, service_->currentState());
  EXPECT_FALSE(service_->running());
  service_->CtrlHandler(kControlContinue);
  EXPECT_EQ(kStateRunning, service_->currentState());
  EXPECT_TRUE(service_->running());
  service_->CtrlHandler(kControlInterrogate);
  EXPECT_EQ(kStateRunning, service_->currentState());
  service_->CtrlHandler(kControlStop);
  EXPECT_EQ(kStateStopped, service_->currentState());
  EXPECT_FALSE(service_->running());
  EXPECT_EQ(0, log_.formsAlive);
}

TEST_F(WaveServiceTest, UnknownCustomCodesAreIgnored) {
  setMachineNames(u"Mic", u"Speakers");
  start();
  service_->CtrlHandler(250);
  service_->CtrlHandler(128);
  EXPECT_TRUE(service_->running());
  EXPECT_EQ(1, log_.formsCreated);
  EXPECT_EQ(kStateRunning, service_->currentState());
}

TEST_F(WaveServiceTest, MissingMachineKeyLeavesTheBridgeStoppedAndTheWatchdogRetries) {
  ASSERT_TRUE(service_->startService(0, nullptr));
  service_->ServicePause(false);
  EXPECT_FALSE(service_->running());
  EXPECT_TRUE(traced("Fail"));
  EXPECT_EQ(0, log_.formsCreated);

  // Nobody pings: each cycle tries again; the names appear in the third.
  int cycles = 0;
  duringSleep_ = [&] {
    if (++cycles == 3) setMachineNames(u"Mic", u"Speakers");
  };
  EXPECT_TRUE(service_->watchdogCycle());
  EXPECT_TRUE(service_->watchdogCycle());
  EXPECT_FALSE(service_->running());
  EXPECT_TRUE(service_->watchdogCycle());
  EXPECT_TRUE(service_->running());
  EXPECT_EQ(3u * kWatchdogPeriodMs, slept_);
}

TEST_F(WaveServiceTest, PingsKeepThePausedBridgeStopped) {
  setMachineNames(u"Mic", u"Speakers");
  start();
  service_->CtrlHandler(WAVE_SERVICE_PAUSE);
  // The main program pings during every cycle.
  duringSleep_ = [&] { service_->CtrlHandler(WAVE_SERVICE_PING); };
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(service_->watchdogCycle());
  EXPECT_FALSE(service_->running());
  EXPECT_EQ(1, log_.formsCreated);
  // The pings stop: the next cycle starts the bridge.
  duringSleep_ = nullptr;
  traces_.clear();
  EXPECT_TRUE(service_->watchdogCycle());
  EXPECT_TRUE(traced("Ping not recieved. Try start service"));
  EXPECT_TRUE(service_->running());
}

TEST_F(WaveServiceTest, PauseCountsAsAPingForTheCurrentCycle) {
  setMachineNames(u"Mic", u"Speakers");
  start();
  // A pause during a cycle must not be undone at its end.
  duringSleep_ = [&] { service_->CtrlHandler(WAVE_SERVICE_PAUSE); };
  EXPECT_TRUE(service_->watchdogCycle());
  EXPECT_FALSE(service_->running());
  duringSleep_ = nullptr;
  EXPECT_TRUE(service_->watchdogCycle());
  EXPECT_TRUE(service_->running());
}

TEST_F(WaveServiceTest, ServiceThreadStartsTheBridgeAndEndsOnStop) {
  setMachineNames(u"Mic", u"Speakers");
  service_->status().currentState = kStateStartPending;
  int sleeps = 0;
  duringSleep_ = [&] {
    ++sleeps;
    if (sleeps == 2) {
      EXPECT_TRUE(service_->startService(0, nullptr));
    }
    if (sleeps == 4) service_->CtrlHandler(kControlStop);
  };
  service_->ServiceThread();
  // Two polls for RUNNING, then watchdog cycles until the stop.
  EXPECT_EQ(2u * kRunningPollMs + 2u * kWatchdogPeriodMs, slept_);
  EXPECT_EQ(1, log_.formsCreated);
  EXPECT_EQ(0, log_.formsAlive);
  EXPECT_TRUE(traced("Did finish service thread."));
}

TEST_F(WaveServiceTest, NamesOfTheVirtualDeviceNeverStartTheBridge) {
  setMachineNames(u"Mic", u"Lumora Wave Audio Device (WDM)");
  start();
  EXPECT_FALSE(service_->running());
  EXPECT_TRUE(traced("Can't create CWaveForm"));
  EXPECT_TRUE(service_->watchdogCycle());
  EXPECT_FALSE(service_->running());
}

TEST_F(WaveServiceTest, AMissingDriverLeavesNothingBehind) {
  setMachineNames(u"Mic", u"Speakers");
  log_.failDriver = true;
  start();
  EXPECT_FALSE(service_->running());
  EXPECT_TRUE(traced("Can't open driver"));
  EXPECT_EQ(0, log_.formsAlive);
  log_.failDriver = false;
  EXPECT_TRUE(service_->watchdogCycle());
  EXPECT_TRUE(service_->running());
}

TEST_F(WaveServiceTest, OpenDeviceCopiesTheUsersNamesAndRestarts) {
  setMachineNames(u"Mic", u"Speakers");
  start();
  service_->CtrlHandler(WAVE_SERVICE_OPEN_DEVICE);
  EXPECT_TRUE(service_->running());
  EXPECT_EQ(u"User Mic", log_.lastInput);
  EXPECT_EQ(u"User Speakers", log_.lastOutput);
  EXPECT_EQ(2, log_.formsCreated);
  base::RegKey key;
  ASSERT_EQ(base::kRegOk, key.open(base::RegRoot::kLocalMachine, kWaveServiceKey));
  base::string16 value;
  EXPECT_EQ(base::kRegOk, key.readValue(kInputDeviceValue, &value));
  EXPECT_EQ(u"User Mic", value);
}

TEST_F(WaveServiceTest, OpenDeviceWithoutUserNamesChangesNothing) {
  setMachineNames(u"Mic", u"Speakers");
  start();
  userNames_.present = false;
  service_->CtrlHandler(WAVE_SERVICE_OPEN_DEVICE);
  EXPECT_EQ(1, userNames_.reads);
  EXPECT_TRUE(service_->running());
  EXPECT_EQ(1, log_.formsCreated);
  base::RegKey key;
  ASSERT_EQ(base::kRegOk, key.open(base::RegRoot::kLocalMachine, kWaveServiceKey));
  base::string16 value;
  EXPECT_EQ(base::kRegOk, key.readValue(kInputDeviceValue, &value));
  EXPECT_EQ(u"Mic", value);
}

TEST_F(WaveServiceTest, DeviceNamesLongerThanTheBufferAreRefusedNotCut) {
  // 511 characters and the terminator fill the 1024 bytes exactly.
  setMachineNames(base::string16(511, u'a'), u"Speakers");
  start();
  EXPECT_TRUE(service_->running());
  EXPECT_EQ(511u, log_.lastInput.size());
  service_->CtrlHandler(WAVE_SERVICE_PAUSE);

  log_.lastInput.clear();
  setMachineNames(base::string16(512, u'a'), u"Speakers");
  service_->CtrlHandler(WAVE_SERVICE_CONTINUE);
  EXPECT_FALSE(service_->running());
  EXPECT_TRUE(traced("Device name too long"));
  EXPECT_TRUE(log_.lastInput.empty());
}

TEST_F(WaveServiceTest, DeviceNameOfAnotherTypeIsRefused) {
  base::RegKey key;
  ASSERT_EQ(base::kRegOk, key.create(base::RegRoot::kLocalMachine, kWaveServiceKey));
  ASSERT_EQ(base::kRegOk, key.writeValue(kOutputDeviceValue, u"Speakers"));
  ASSERT_EQ(base::kRegOk, key.writeValueDW(kInputDeviceValue, 7));
  start();
  EXPECT_FALSE(service_->running());
  EXPECT_EQ(0, log_.formsCreated);
}

}  // namespace
