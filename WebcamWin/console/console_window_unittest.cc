// The controller with the console front end, in-process: it listens on the
// `Port` setting and ends the loop with 1 when asked to close.
#include "WebcamWin/console/console_window.h"

#include <gtest/gtest.h>

#include "WebcamWin/app_info.h"
#include "WebcamWin/main_frame.h"
#include "WebcamWin/settings.h"
#include "base/file_util.h"
#include "base/logging.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "base/test_util.h"

namespace {

class MainFrameConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::beginRegistryOverrideForTesting());
    dir_ = base::makeTempDirectory(u"mainframe");
    log_ = base::joinPath(dir_, u"server.log");
    base::initLogging(log_, base::kLogToFile, base::kLockInProcess, 0);
  }
  void TearDown() override {
    base::resetLoggingForTesting();
    base::endRegistryOverrideForTesting();
    base::removeTree(dir_);
  }
  void setPort(uint32_t port) {
    base::RegKey key;
    ASSERT_EQ(base::kRegOk, key.create(base::RegRoot::kCurrentUser, kAppRegistryKey));
    ASSERT_EQ(base::kRegOk, key.writeValueDW(u"Port", port));
    ASSERT_TRUE(CSettings::Instance().load());
  }
  std::string logText() {
    std::string text;
    base::readFile(log_, &text);
    return text;
  }
  // A port nobody listens on right now.
  static uint16_t freePort() {
    int32_t error = 0;
    base::SocketHandle s = base::socketListen(0, true, &error);
    std::string address;
    uint16_t port = 0;
    base::socketLocalAddress(s, &address, &port);
    base::socketClose(s);
    return port;
  }

  base::string16 dir_, log_;
};

TEST_F(MainFrameConsoleTest, ListensOnThePortSettingAndClosesWithoutQuestion) {
  const uint16_t port = freePort();
  setPort(port);
  base::MessageLoop loop;
  CMainFrame frame;
  ASSERT_TRUE(frame.createWindow(u"Title"));
  loop.runUntilIdle();
  EXPECT_EQ(port, frame.transport()->localPort());
  EXPECT_EQ(kApplicationId, frame.transport()->applicationId());
  EXPECT_EQ("2.2.0.0", frame.transport()->version());

  frame.window()->postClose(kCloseWithoutQuestion);
  EXPECT_EQ(1, loop.run());
  EXPECT_EQ(0, frame.transport()->localPort());  // stopped listening
  const std::string text = logText();
  EXPECT_NE(std::string::npos, text.find("Initializing main window..."));
  EXPECT_NE(std::string::npos, text.find("Initializing transport..."));
  EXPECT_NE(std::string::npos, text.find("Listen on 0.0.0.0:" + std::to_string(port)));
  EXPECT_NE(std::string::npos, text.find("WM_CLOSE message. wParam: 305419896"));
  EXPECT_NE(std::string::npos, text.find("WM_DESTROY message"));
}

TEST_F(MainFrameConsoleTest, PortOutOfRangeLetsTheSystemChoose) {
  setPort(70000);
  base::MessageLoop loop;
  CMainFrame frame;
  ASSERT_TRUE(frame.createWindow(u"Title"));
  loop.runUntilIdle();
  EXPECT_NE(0, frame.transport()->localPort());
  EXPECT_NE(std::string::npos, logText().find("The Port setting 70000 is not a TCP port"));
}

TEST_F(MainFrameConsoleTest, QuitKeyClosesNormally) {
  setPort(0);
  base::MessageLoop loop;
  CMainFrame frame;
  ASSERT_TRUE(frame.createWindow(u"Title"));
  static_cast<ConsoleWindow*>(frame.window())->onKey('q');
  EXPECT_EQ(1, loop.run());
  EXPECT_NE(std::string::npos, logText().find("WM_CLOSE message. wParam: 0"));
}

TEST_F(MainFrameConsoleTest, FrameDestroyedWithoutCloseStillCleansUp) {
  setPort(0);
  base::MessageLoop loop;
  {
    CMainFrame frame;
    ASSERT_TRUE(frame.createWindow(u"Title"));
  }
  // Destroying the frame destroyed its window the usual way.
  EXPECT_NE(std::string::npos, logText().find("WM_DESTROY message"));
}

}  // namespace
