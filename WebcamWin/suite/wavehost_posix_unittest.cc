// The Linux client's side of the daemon's control socket: what it makes of
// the answers, and that a daemon that hangs or talks nonsense never holds
// the interface thread for long.
#include <gtest/gtest.h>

#include <chrono>

#include "WebcamWin/testing/shell_test_util.h"
#include "WebcamWin/testing/test_wave_daemon_posix.h"
#include "WebcamWin/suite/wavehost.h"
#include "base/file_util.h"
#include "base/test_util.h"

namespace {

using Lines = std::vector<std::string>;

class WaveHostSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = base::makeTempDirectory(u"wave_socket");
    env_.set("XDG_RUNTIME_DIR", base::wideToUtf8(folder_));
    env_.set("XDG_CONFIG_HOME", base::wideToUtf8(base::joinPath(folder_, u"config")));
    ASSERT_TRUE(daemon_.start(base::wideToUtf8(base::joinPath(folder_, u"lumora-wave-service.sock"))));
    ASSERT_TRUE(client_.open());
  }
  void TearDown() override {
    client_.close();
    daemon_.stop();
    base::removeTree(folder_);
  }

  Lines controlRequests() const {
    Lines lines;
    for (const std::string& r : daemon_.requests())
      if (r != "state") lines.push_back(r);
    return lines;
  }

  base::string16 folder_;
  shell_test::ScopedEnvironment env_;
  shell_test::LogCapture log_;
  FakeWaveDaemon daemon_;
  CWaveHost client_;
};

TEST_F(WaveHostSocketTest, EachCodeIsItsOwnRequestLine) {
  EXPECT_TRUE(client_.ping());
  EXPECT_TRUE(client_.pause());
  EXPECT_TRUE(client_.resume());
  EXPECT_TRUE(client_.openDevice());
  EXPECT_EQ((Lines{"ping", "pause", "continue", "reload"}), controlRequests());
  // Every code is preceded by its state question.
  EXPECT_EQ(9u, daemon_.requests().size());  // the open's status included
  EXPECT_FALSE(client_.sendControl(250));
  EXPECT_TRUE(log_.contains("no request for the control code 250"));
}

TEST_F(WaveHostSocketTest, StateAnswers) {
  struct Case {
    const char* answer;
    int32_t state;
  };
  const Case cases[] = {
      {"ok 4", 4},  {"ok 1", 1},         {"ok 7", 7},          {"ok", 4},
      {"ok paused", 4}, {"ok running", 4}, {"ok 4\r", 4},
      {"error no bridge", -1}, {"OK 4", -1}, {"okay", -1}, {"", -1},
  };
  for (const Case& c : cases) {
    daemon_.setAnswer("state", c.answer);
    EXPECT_EQ(c.state, client_.state()) << c.answer;
  }
  EXPECT_TRUE(log_.contains("QueryServiceStatusEx failed with code 0x42a:no bridge"));
  EXPECT_TRUE(log_.contains("QueryServiceStatusEx failed with code 0xd:unexpected answer \"okay\""));
}

TEST_F(WaveHostSocketTest, RefusedControlIsLoggedWithTheDaemonsText) {
  daemon_.setAnswer("pause", "error the device is gone");
  EXPECT_FALSE(client_.pause());
  EXPECT_TRUE(log_.contains("ControlService() failed with error 0x42a:the device is gone"));
  // A paused service (SCM state 7) gets nothing.
  daemon_.setAnswer("state", "ok 7");
  EXPECT_FALSE(client_.resume());
  EXPECT_EQ((Lines{"pause"}), controlRequests());
}

TEST_F(WaveHostSocketTest, SilentOrRudeDaemonFailsQuickly) {
  daemon_.setMode(FakeWaveDaemon::Mode::kSilent);
  EXPECT_EQ(-1, client_.state());
  EXPECT_TRUE(log_.contains("QueryServiceStatusEx failed with code 0x41d:the service does not answer"));
  daemon_.setMode(FakeWaveDaemon::Mode::kHangUp);
  EXPECT_EQ(-1, client_.state());
  EXPECT_TRUE(log_.contains("without an answer"));
  daemon_.setMode(FakeWaveDaemon::Mode::kAnswer);
  daemon_.setAnswer("state", std::string(4000, 'o'));
  EXPECT_EQ(-1, client_.state());
  EXPECT_TRUE(log_.contains("longer than 256 bytes"));
}

TEST_F(WaveHostSocketTest, GoneDaemonReadsAsStopped) {
  daemon_.stop();
  // The socket is gone and no unit exists, but the open client stays usable.
  EXPECT_EQ(kServiceStopped, client_.state());
  EXPECT_FALSE(client_.ping());
  EXPECT_TRUE(log_.contains("Service is not running"));
  CWaveHost fresh;
  EXPECT_FALSE(fresh.open());
  EXPECT_TRUE(fresh.notInstalled());
}

}  // namespace
