// The Linux daemon's control socket with a stand-in bridge, and install /
// remove of the systemd user unit by the real program.
#include "PC_Audio_DRV/daemon_posix.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "PC_Audio_DRV/posix_test_util.h"
#include "PC_Audio_DRV/wave_service.h"
#include "base/reg_key.h"

namespace {

struct Counts {
  std::atomic<int> forms{0}, alive{0};
};

class QuietForm : public IWaveForm {
 public:
  explicit QuietForm(Counts* counts) : counts_(counts) { ++counts_->alive; }
  ~QuietForm() override { --counts_->alive; }
  void SetReadCallback(ReadCallback, void*) override {}
  bool StartRecording() override { return true; }
  void StopRecording() override {}
  void StopPlaying() override {}
  void Out(const uint8_t*, size_t) override {}

 private:
  Counts* counts_;
};

class QuietLink : public IDriverLink {
 public:
  bool Start() override { return true; }
  void Stop() override {}
  void Write(const uint8_t*, size_t) override {}
};

class QuietFactory : public BridgeFactory {
 public:
  explicit QuietFactory(Counts* counts) : counts_(counts) {}
  std::unique_ptr<IWaveForm> CreateWaveForm(const base::string16&, const base::string16&) override {
    ++counts_->forms;
    return std::make_unique<QuietForm>(counts_);
  }
  std::unique_ptr<IDriverLink> OpenDriver(IAudioCallback*) override { return std::make_unique<QuietLink>(); }

 private:
  Counts* counts_;
};

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::beginRegistryOverrideForTesting());
    base::RegKey key;
    ASSERT_EQ(base::kRegOk, key.create(base::RegRoot::kLocalMachine, kWaveServiceKey));
    key.writeValue(kInputDeviceValue, u"Mic");
    key.writeValue(kOutputDeviceValue, u"Speakers");
    folder_ = wave_test::makeScratchFolder();
    socket_ = folder_ + "/lumora-wave-service.sock";
    ASSERT_EQ(0, ::pipe2(stop_, O_CLOEXEC));
  }
  void TearDown() override {
    stopDaemon();
    ::close(stop_[0]);
    ::close(stop_[1]);
    wave_test::removeFolder(folder_);
    base::endRegistryOverrideForTesting();
  }
  void startDaemon() {
    daemon_ = std::thread([this] { exitCode_ = runWaveDaemon(socket_, &factory_, nullptr, stop_[0]); });
    // Up once it answers (a stale socket file may be there before).
    for (int i = 0; i < 250 && wave_test::request(socket_, "state").empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  void stopDaemon() {
    if (!daemon_.joinable()) return;
    const char byte = 1;
    ASSERT_EQ(1, ::write(stop_[1], &byte, 1));
    daemon_.join();
    char taken;
    ASSERT_EQ(1, ::read(stop_[0], &taken, 1));  // ready for another daemon
  }

  Counts counts_;
  QuietFactory factory_{&counts_};
  std::string folder_, socket_;
  int stop_[2] = {-1, -1};
  std::thread daemon_;
  std::atomic<int> exitCode_{-1};
};

TEST_F(DaemonTest, RequestsMapToTheControlCodes) {
  startDaemon();
  EXPECT_EQ("ok 4", wave_test::request(socket_, "state"));
  // The worker starts the bridge right after start-up.
  for (int i = 0; i < 200 && counts_.alive == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(1, counts_.alive.load());
  EXPECT_EQ("ok 4", wave_test::request(socket_, "pause"));
  EXPECT_EQ(0, counts_.alive.load());
  EXPECT_EQ("ok 4", wave_test::request(socket_, "ping"));
  EXPECT_EQ("ok 4", wave_test::request(socket_, "continue"));
  EXPECT_EQ(1, counts_.alive.load());
  // No logged-on user's names here: reload changes nothing.
  EXPECT_EQ("ok 4", wave_test::request(socket_, "reload"));
  EXPECT_EQ(1, counts_.alive.load());
  stopDaemon();
  EXPECT_EQ(0, exitCode_.load());
  EXPECT_EQ(0, counts_.alive.load());
  EXPECT_TRUE(wave_test::waitForFile(socket_, 1000, false));
}

TEST_F(DaemonTest, BadRequestsAreRefusedAndTheDaemonGoesOn) {
  startDaemon();
  EXPECT_EQ("error unknown request", wave_test::request(socket_, "PING"));
  EXPECT_EQ("error unknown request", wave_test::request(socket_, ""));
  EXPECT_EQ("error bad request", wave_test::request(socket_, std::string(100000, 'p')));
  // A client that connects and says nothing is given up after a second.
  const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(0, ::connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  EXPECT_EQ("ok 4", wave_test::request(socket_, "ping"));
  ::close(silent);
}

TEST_F(DaemonTest, ASecondDaemonLeavesTheFirstAloneAndAStaleSocketIsReplaced) {
  startDaemon();
  int otherStop[2];
  ASSERT_EQ(0, ::pipe(otherStop));
  EXPECT_EQ(1, runWaveDaemon(socket_, &factory_, nullptr, otherStop[0]));
  EXPECT_EQ("ok 4", wave_test::request(socket_, "state"));
  stopDaemon();
  ::close(otherStop[0]);
  ::close(otherStop[1]);

  // A socket file nobody listens on, as a killed daemon leaves it.
  const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(0, ::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
  ::close(stale);
  startDaemon();
  EXPECT_EQ("ok 4", wave_test::request(socket_, "state"));
}

TEST(WavehostCommandLineTest, InstallAndRemoveTheUserUnit) {
  const std::string folder = wave_test::makeScratchFolder();
  const std::string env = "XDG_CONFIG_HOME='" + folder + "/config' ";
  const std::string program = std::string("'") + WAVEHOST_PROGRAM + "'";
  const std::string unit = folder + "/config/systemd/user/lumora-wave-service.service";
  std::string output;
  EXPECT_EQ(0, wave_test::runCommand(env + program + " InStAlL", &output));
  EXPECT_EQ(0u, output.find(std::string("Successfully registered \"") + WAVEHOST_PROGRAM + "\"\n")) << output;
  EXPECT_NE(std::string::npos, output.find("systemctl --user enable --now lumora-wave-service.service"));
  std::ifstream in(unit);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, text.find(std::string("ExecStart=\"") + WAVEHOST_PROGRAM + "\" run\n")) << text;
  EXPECT_NE(std::string::npos, text.find("WantedBy=default.target"));

  EXPECT_EQ(0, wave_test::runCommand(env + program + " REMOVE ignored", &output));
  EXPECT_EQ(0u, output.find("Service deleted\n"));
  EXPECT_FALSE(wave_test::waitForFile(unit, 0));
  EXPECT_EQ(2, wave_test::runCommand(env + program + " remove", &output));
  EXPECT_EQ("Can't open service\n", output);

  // The unit's folder can't be made: a file stands where it should be.
  const std::string blocked = folder + "/blocked";
  std::ofstream(blocked) << "x";
  EXPECT_EQ(2, wave_test::runCommand("XDG_CONFIG_HOME='" + blocked + "' " + program + " install", &output));
  EXPECT_EQ("Registration error!\n", output);
  EXPECT_EQ(1, wave_test::runCommand("env -u HOME -u XDG_CONFIG_HOME " + program + " install", &output));
  EXPECT_EQ("Can't open SCM\n", output);
  wave_test::removeFolder(folder);
}

}  // namespace
