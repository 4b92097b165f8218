// End-to-end: the real `server` program, started as a newcomer would, with a
// private user. Under Wine every start takes seconds, hence the long waits
// (they bound a hang; they are not speed checks).
#include <gtest/gtest.h>

#include <regex>

#include "WebcamWin/e2e/server_process.h"
#include "base/file_util.h"
#include "base/message_loop.h"
#include "base/platform_thread.h"
#include "base/socket.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/session_messages.h"

namespace {

constexpr uint32_t kStartTimeoutMs = 90000;
constexpr uint32_t kEndTimeoutMs = 60000;
constexpr uint32_t kPollMs = 50;
constexpr int32_t kPhoneTimeoutMs = 20000;

// One simulated phone on this thread's loop.
class Phone {
 public:
  bool connectAndIntroduce(uint16_t port, uint32_t applicationId = 12000) {
    std::string error;
    phonesim::PhoneIdentity identity;
    identity.applicationId = applicationId;
    identity.deviceModel = "iPhone15,3";
    identity.systemVersion = "17.4";
    if (!connection_.connect("127.0.0.1", port, kPhoneTimeoutMs, &error)) return false;
    if (!runUntil([this] { return connection_.isConnected() || connection_.isClosed(); }))
      return false;
    return connection_.isConnected() && connection_.sendHandshake(identity);
  }
  // Pumps the loop until `done` or the time is up.
  template <typename Done>
  bool runUntil(Done done, uint32_t timeoutMs = kPhoneTimeoutMs) {
    for (uint32_t waited = 0; waited < timeoutMs && !done(); waited += kPollMs) loop_.runFor(kPollMs);
    return done();
  }
  bool waitForHandshake() {
    return runUntil([this] { return connection_.serverHandshake() || connection_.isClosed(); }) &&
           connection_.serverHandshake();
  }
  phonesim::PhoneConnection& connection() { return connection_; }

 private:
  base::MessageLoop loop_;
  phonesim::PhoneConnection connection_;
};

class ServerE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!user_.setUp()) GTEST_SKIP() << "no private user on this system";
    base::initializeSockets();
  }
  void TearDown() override { EXPECT_EQ("", user_.sanitizerReports()); }

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
  static int listeningPort(const std::string& log) { return e2e::listeningPort(log); }

  base::string16 output(const char16_t* name) { return base::joinPath(user_.folder(), name); }

  // Ends `server` with another start given `exitSwitch`; the server's exit
  // code, or -100 when something did not end.
  int endWith(ServerProcess& server, const std::string& exitSwitch) {
    ServerProcess exit;
    int code = -100;
    if (!exit.start(ServerProcess::defaultProgram(), {exitSwitch}, output(u"exit.out")) ||
        !exit.wait(kEndTimeoutMs, &code) || code != 0 || !server.wait(kEndTimeoutMs, &code)) {
      return -100;
    }
    return code;
  }

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

  // A phone is answered with the PC's handshake and admitted.
  Phone phone;
  ASSERT_TRUE(phone.connectAndIntroduce(static_cast<uint16_t>(port)));
  ASSERT_TRUE(phone.waitForHandshake());
  EXPECT_EQ(12000u, phone.connection().serverHandshake()->applicationId);
  EXPECT_EQ((transport::VersionParts{2, 2, 0, 0}), phone.connection().serverHandshake()->version);
  log = waitForLog(first, "Did connect to 127.0.0.1:" + std::to_string(phone.connection().localPort()));
  EXPECT_NE(std::string::npos, log.find("Did connect to 127.0.0.1:")) << log;
  EXPECT_FALSE(phone.connection().farewellReceived());
  // It identifies itself; while the user is asked about it, it keeps its
  // place.
  phone.connection().sendMessage(phonesim::kAuthType, phonesim::authData("e2e-first", "First"));
  ASSERT_TRUE(phone.runUntil(
      [&] { return user_.logOf(first.pid()).find("Waiting for the user's answer about the phone") != std::string::npos; },
      kStartTimeoutMs));

  // A second phone is turned away while the first is admitted.
  Phone other;
  ASSERT_TRUE(other.connectAndIntroduce(static_cast<uint16_t>(port)));
  ASSERT_TRUE(other.runUntil([&] { return other.connection().farewellReceived(); }));
  EXPECT_EQ(1u, other.connection().farewellReason());

  // A second start gives way and leaves the first running.
  ServerProcess second;
  ASSERT_TRUE(second.start(ServerProcess::defaultProgram(), {}, output(u"second.out")));
  int code = -100;
  ASSERT_TRUE(second.wait(kEndTimeoutMs, &code));
  EXPECT_EQ(0, code);
  EXPECT_TRUE(first.running());
  EXPECT_EQ(std::string::npos, user_.logOf(second.pid()).find("Listen on"));
  EXPECT_TRUE(phone.connection().isConnected());

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
  // The phone was told good-bye before the program ended.
  ASSERT_TRUE(phone.runUntil([&] { return phone.connection().isClosed(); }));
  EXPECT_TRUE(phone.connection().farewellReceived());
  EXPECT_EQ(0u, phone.connection().farewellReason());
}

TEST_F(ServerE2ETest, ForeignAppIsSentAwayAndAPhoneMayComeBack) {
  ServerProcess server;
  ASSERT_TRUE(server.start(ServerProcess::defaultProgram(), {}, output(u"server.out")));
  const int port = listeningPort(waitForLog(server, "Listen on "));
  ASSERT_NE(0, port);

  Phone foreign;
  ASSERT_TRUE(foreign.connectAndIntroduce(static_cast<uint16_t>(port), 4711));
  ASSERT_TRUE(foreign.runUntil([&] { return foreign.connection().farewellReceived(); }));
  EXPECT_EQ(2u, foreign.connection().farewellReason());

  {
    Phone phone;
    ASSERT_TRUE(phone.connectAndIntroduce(static_cast<uint16_t>(port)));
    ASSERT_TRUE(phone.waitForHandshake());
    phone.connection().disconnect();
    ASSERT_TRUE(phone.runUntil([&] { return phone.connection().isClosed(); }));
  }
  EXPECT_NE(std::string::npos, waitForLog(server, "Transport disconnected").find("Transport disconnected"));

  Phone again;
  ASSERT_TRUE(again.connectAndIntroduce(static_cast<uint16_t>(port)));
  ASSERT_TRUE(again.waitForHandshake());
  EXPECT_FALSE(again.connection().farewellReceived());

  EXPECT_EQ(1, endWith(server, "-exit"));
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

  EXPECT_EQ(1, endWith(server, "exit"));
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
