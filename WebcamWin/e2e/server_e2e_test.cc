// End-to-end: the real `server` program, started as a newcomer would, with a
// private user. Under Wine every start takes seconds, hence the long waits
// (they bound a hang; they are not speed checks).
#include <gtest/gtest.h>

#include <regex>

#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/platform_thread.h"
#include "base/socket.h"

namespace {

constexpr uint32_t kStartTimeoutMs = 90000;
constexpr uint32_t kEndTimeoutMs = 60000;
constexpr uint32_t kPollMs = 50;

class ServerE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!user_.setUp()) GTEST_SKIP() << "no private user on this system";
    base::initializeSockets();
  }

  // Waits until the log of `server` holds `text`; returns the whole log.
  std::string waitForLog(ServerProcess& server, const std::string& text,
                         uint32_t timeoutMs = kStartTimeoutMs) {
    std::string log;
    for (uint32_t waited = 0; waited < timeoutMs; waited += kPollMs) {
      log = user_.logOf(server.pid());
      if (log.find(text) != std::string::npos || !server.running()) break;
      base::PlatformThread::sleepMs(kPollMs);
    }
    return user_.logOf(server.pid());
  }

  // The port of the "Listen on 0.0.0.0:<port>" line, or 0.
  static int listeningPort(const std::string& log) {
    std::smatch match;
    static const std::regex kListen("Listen on [0-9.]+:([0-9]+)");
    return std::regex_search(log, match, kListen) ? std::stoi(match[1]) : 0;
  }

  base::string16 output(const char16_t* name) { return base::joinPath(user_.folder(), name); }

  PrivateUser user_;
};

TEST_F(ServerE2ETest, OneInstanceListensAndExitSwitchEndsIt) {
  ServerProcess first;
  ASSERT_TRUE(first.start(ServerProcess::defaultProgram(), {}, output(u"first.out")));
  std::string log = waitForLog(first, "Listen on ");
  const int port = listeningPort(log);
  ASSERT_NE(0, port) << log;
  EXPECT_NE(std::string::npos, log.find("Lumora ZuvIridar for iPhone v2.2.0 (12000)"));
  EXPECT_NE(std::string::npos, log.find("Prevent the second instance of application"));
  EXPECT_NE(std::string::npos, log.find("Resource library was loaded"));
  EXPECT_NE(std::string::npos, log.find("Initializing main window..."));
  EXPECT_NE(std::string::npos, log.find("Initializing transport..."));

  // A second start gives way and leaves the first running.
  ServerProcess second;
  ASSERT_TRUE(second.start(ServerProcess::defaultProgram(), {}, output(u"second.out")));
  int code = -100;
  ASSERT_TRUE(second.wait(kEndTimeoutMs, &code));
  EXPECT_EQ(0, code);
  EXPECT_TRUE(first.running());
  EXPECT_EQ(std::string::npos, user_.logOf(second.pid()).find("Listen on"));

  // "-exit" closes the first without a question.
  ServerProcess exit;
  ASSERT_TRUE(exit.start(ServerProcess::defaultProgram(), {"-exit"}, output(u"exit.out")));
  ASSERT_TRUE(exit.wait(kEndTimeoutMs, &code));
  EXPECT_EQ(0, code);
  EXPECT_NE(std::string::npos, user_.logOf(exit.pid()).find("Called with arguments: -exit"));
  ASSERT_TRUE(first.wait(kEndTimeoutMs, &code));
  EXPECT_EQ(1, code);
  log = user_.logOf(first.pid());
  EXPECT_NE(std::string::npos, log.find("WM_CLOSE message. wParam: 305419896")) << log;
  EXPECT_NE(std::string::npos, log.find("WM_DESTROY message"));
  EXPECT_NE(std::string::npos, log.find("Exit"));
}

TEST_F(ServerE2ETest, PortWrittenIntoTheRegistryIsHonoured) {
  int32_t error = 0;
  base::SocketHandle probe = base::socketListen(0, false, &error);
  ASSERT_NE(base::kInvalidSocket, probe);
  std::string address;
  uint16_t port = 0;
  base::socketLocalAddress(probe, &address, &port);
  base::socketClose(probe);
  ASSERT_TRUE(user_.storePort(port));

  ServerProcess server;
  ASSERT_TRUE(server.start(ServerProcess::defaultProgram(), {"/minimize"}, output(u"server.out")));
  const std::string log = waitForLog(server, "Listen on ");
  EXPECT_EQ(port, listeningPort(log)) << log;
  EXPECT_NE(std::string::npos, log.find("Called with arguments: /minimize"));

  ServerProcess exit;
  int code = -100;
  ASSERT_TRUE(exit.start(ServerProcess::defaultProgram(), {"exit"}));
  ASSERT_TRUE(exit.wait(kEndTimeoutMs, &code));
  ASSERT_TRUE(server.wait(kEndTimeoutMs, &code));
  EXPECT_EQ(1, code);
}

TEST_F(ServerE2ETest, ExitWithoutARunningInstanceEndsAtOnce) {
  ServerProcess exit;
  ASSERT_TRUE(exit.start(ServerProcess::defaultProgram(), {"-exit"}, output(u"exit.out")));
  int code = -100;
  ASSERT_TRUE(exit.wait(kEndTimeoutMs, &code));
  EXPECT_EQ(0, code);
  EXPECT_EQ(std::string::npos, user_.logOf(exit.pid()).find("Prevent the second instance"));
}

}  // namespace
