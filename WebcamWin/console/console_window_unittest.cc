// The controller with the console front end, in-process: it listens on the
// `Port` setting and ends the loop with 1 when asked to close.
#include "WebcamWin/console/console_window.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/platform/instance.h"
#include "base/file_util.h"
#include "base/logging.h"
#include "base/platform_thread.h"
#include "base/reg_key.h"
#include "base/socket.h"
#include "base/test_util.h"
#include "components/video/video_frame.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/session_messages.h"

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

// A phone on loopback that records the authorization results.
class ResultPhone : public phonesim::PhoneConnection::Observer {
 public:
  ResultPhone() { connection.addObserver(this); }
  ~ResultPhone() override { connection.removeObserver(this); }
  void onMessage(phonesim::PhoneConnection*, const transport::Frame& frame) override {
    int32_t kind = 0, value = 0;
    if (frame.type == phonesim::kAuthType && phonesim::readKind(frame.payload, &kind) && kind == 2 &&
        phonesim::readIntegerField(frame.payload, 1, &value))
      results.push_back(value);
  }
  phonesim::PhoneConnection connection;
  std::vector<int32_t> results;
};

template <typename Done>
bool pumpUntil(base::MessageLoop& loop, Done done) {
  for (int i = 0; i < 400 && !done(); ++i) loop.runFor(10);
  return done();
}

TEST_F(MainFrameConsoleTest, ThePromptIsAnsweredByKeysByCtrlCAndByAnotherStart) {
  setPort(0);
  base::MessageLoop loop;
  CMainFrame frame;
  ASSERT_TRUE(frame.createWindow(u"Title"));
  auto* console = static_cast<ConsoleWindow*>(frame.window());
  ResultPhone phone;
  std::string error;
  ASSERT_TRUE(phone.connection.connect("127.0.0.1", frame.transport()->localPort(), 5000, &error));
  ASSERT_TRUE(pumpUntil(loop, [&] { return phone.connection.isConnected(); }));
  ASSERT_TRUE(phone.connection.sendHandshake(phonesim::PhoneIdentity()));
  ASSERT_TRUE(pumpUntil(loop, [&] { return phone.connection.serverHandshake() != nullptr; }));

  // Without a question open, another start's answer finds nobody.
  std::atomic<bool> answered{true};
  std::thread other([&] { answered = console->answerFromAnotherStart(shell::kAnswerAllowOnce); });
  ASSERT_TRUE(pumpUntil(loop, [&] { return !answered.load(); }));
  other.join();
  EXPECT_FALSE(answered);

  auto ask = [&](const std::string& uid) {
    phone.connection.sendMessage(phonesim::kAuthType, phonesim::authData(uid, "Phone " + uid));
    return pumpUntil(loop, [&] { return frame.authorizationPending(); });
  };
  // Keys other than the answers leave the question open.
  ASSERT_TRUE(ask("K-1"));
  console->onKey('x');
  EXPECT_TRUE(frame.authorizationPending());
  console->onKey('d');
  EXPECT_FALSE(frame.authorizationPending());
  ASSERT_TRUE(pumpUntil(loop, [&] { return phone.results.size() == 1; }));
  EXPECT_EQ(0, phone.results.back());

  // Ctrl-C at the question denies instead of closing.
  ASSERT_TRUE(ask("K-2"));
  console->onInterrupt();
  ASSERT_TRUE(pumpUntil(loop, [&] { return phone.results.size() == 2; }));
  EXPECT_EQ(0, phone.results.back());
  EXPECT_EQ(std::string::npos, logText().find("WM_CLOSE message"));

  // "-allow" from another start lists the phone.
  ASSERT_TRUE(ask("K-3"));
  answered = false;
  std::atomic<bool> done{false};
  std::thread allow([&] {
    answered = console->answerFromAnotherStart(shell::kAnswerAllowAlways);
    done = true;
  });
  ASSERT_TRUE(pumpUntil(loop, [&] { return done.load(); }));
  allow.join();
  EXPECT_TRUE(answered);
  ASSERT_TRUE(pumpUntil(loop, [&] { return phone.results.size() == 3; }));
  EXPECT_EQ(1, phone.results.back());
  uint32_t status = 0;
  EXPECT_TRUE(CSettings::Instance().findDevice(u"K-3", &status));
  CSettings reloaded;
  ASSERT_TRUE(reloaded.load());
  EXPECT_TRUE(reloaded.findDevice(u"K-3", &status));  // saved at once
  EXPECT_FALSE(reloaded.findDevice(u"K-1", &status));

  // Listed now: accepted again without a question.
  phone.connection.sendMessage(phonesim::kAuthType, phonesim::authData("K-3", "Phone K-3"));
  ASSERT_TRUE(pumpUntil(loop, [&] { return phone.results.size() == 4; }));
  EXPECT_EQ(1, phone.results.back());
  EXPECT_FALSE(frame.authorizationPending());

  EXPECT_EQ("Phone 'Ann' (Unique ID: U-1) wants to connect. [a]lways allow, allow [o]nce, [d]eny?",
            ConsoleWindow::promptText(u"Ann", u"U-1"));
  CSettings::Instance().removeDevice(u"K-3");
}

// The quit question: a stray key keeps it open, "n" keeps the program, "d"
// quits and turns that question off for good, while the loop runs on.
TEST_F(MainFrameConsoleTest, TheQuitQuestionIsAnsweredOnTheConsole) {
  setPort(0);
  base::MessageLoop loop;
  CMainFrame frame;
  ASSERT_TRUE(frame.createWindow(u"Title"));
  auto* console = static_cast<ConsoleWindow*>(frame.window());
  console->setInteractive(true);
  ASSERT_TRUE(CSettings::Instance().promptOnExit());
  ASSERT_EQ(CMainFrame::kIdsQuit, frame.closingQuestion());

  console->postKey('x');
  console->postKey('n');
  frame.onClose(0);
  EXPECT_NE(0, frame.transport()->localPort());  // still listening
  EXPECT_TRUE(CSettings::Instance().promptOnExit());

  console->postKey('d');
  frame.onClose(0);
  EXPECT_EQ(1, loop.run());
  EXPECT_EQ(0, frame.transport()->localPort());
  EXPECT_FALSE(CSettings::Instance().promptOnExit());
  CSettings::Instance().setPromptOnExit(true);
}

TEST_F(MainFrameConsoleTest, WithoutATerminalItQuitsWithoutAsking) {
  setPort(0);
  base::MessageLoop loop;
  CMainFrame frame;
  ASSERT_TRUE(frame.createWindow(u"Title"));
  static_cast<ConsoleWindow*>(frame.window())->setInteractive(false);
  frame.onClose(0);
  EXPECT_EQ(1, loop.run());
  EXPECT_TRUE(CSettings::Instance().promptOnExit());  // nobody ticked the box
}

// The access list: listed with numbers, one removed by number and Enter and
// saved at once; numbers not on the list, an endless number and other keys
// change nothing.
TEST_F(MainFrameConsoleTest, AccessListEntriesAreRemovedByNumber) {
  setPort(0);
  CSettings& settings = CSettings::Instance();
  settings.addDevice(u"U-1", u"Ann", 1);
  settings.addDevice(u"U-2", u"Bob", 0);
  settings.addDevice(u"U-3", u"Cid", 1);
  ASSERT_TRUE(settings.save());
  base::MessageLoop loop;
  CMainFrame frame;
  ASSERT_TRUE(frame.createWindow(u"Title"));
  auto* console = static_cast<ConsoleWindow*>(frame.window());
  auto keys = [&](const std::string& typed) {
    for (char key : typed) console->onKey(key);
  };
  uint32_t status = 0;

  keys("l4\n");  // not on the list
  keys("l0\n");
  keys("l99999999999999999999\n");
  keys("l\n");   // leaves the list
  keys("2\n");   // not listing any more: nothing
  EXPECT_EQ(3u, settings.accessList().size());

  keys("l29\x7f\n");  // a typing error taken back: removes entry 2
  EXPECT_FALSE(settings.findDevice(u"U-2", &status));
  EXPECT_TRUE(settings.findDevice(u"U-1", &status));
  EXPECT_TRUE(settings.findDevice(u"U-3", &status));
  CSettings reloaded;
  ASSERT_TRUE(reloaded.load());
  EXPECT_FALSE(reloaded.findDevice(u"U-2", &status));
  EXPECT_TRUE(reloaded.findDevice(u"U-3", &status));

  // The numbers are those of the last listing: the list changed under it.
  keys("l");
  settings.removeDevice(u"U-1");
  keys("1\n");
  EXPECT_TRUE(settings.findDevice(u"U-3", &status));
  EXPECT_NE(std::string::npos, logText().find("Removed Bob (U-2) from the access list"));
  settings.removeDevice(u"U-3");
  settings.save();
}

// The folder keys: the folder comes with its missing parents, the shell
// opens it, and the commands leave their log lines.
TEST_F(MainFrameConsoleTest, FolderKeysCreateAndOpenTheFolders) {
  setPort(0);
  const std::string bin = base::nativePath(dir_) + "/bin";
  const std::string opened = base::nativePath(dir_) + "/opened";
  ASSERT_TRUE(base::createDirectories(base::utf8ToWide(bin)));
  ASSERT_TRUE(base::writeFileAtomic(base::utf8ToWide(bin + "/xdg-open"), "#!/bin/sh\necho \"$1\" >> " + opened + "\n"));
  ASSERT_EQ(0, ::chmod((bin + "/xdg-open").c_str(), 0755));
  const std::string oldPath = ::getenv("PATH");
  ::setenv("PATH", (bin + ":" + oldPath).c_str(), 1);

  CSettings& settings = CSettings::Instance();
  const base::string16 pictures = base::joinPath(dir_, u"a/b/Pictures");
  const base::string16 videos = base::joinPath(dir_, u"Videos");
  settings.setPicturesFolder(pictures);
  settings.setMoviesFolder(videos);
  ASSERT_TRUE(base::createDirectories(videos));  // one that exists is fine
  base::MessageLoop loop;
  CMainFrame frame;
  ASSERT_TRUE(frame.createWindow(u"Title"));
  auto* console = static_cast<ConsoleWindow*>(frame.window());
  console->onKey('p');
  console->onKey('v');
  std::string text;
  for (int i = 0; i < 200 && std::count(text.begin(), text.end(), '\n') < 2; ++i) {
    base::PlatformThread::sleepMs(10);
    base::readFile(base::utf8ToWide(opened), &text);
  }
  ::setenv("PATH", oldPath.c_str(), 1);
  EXPECT_TRUE(base::isDirectory(pictures));
  EXPECT_NE(std::string::npos, text.find(base::nativePath(pictures) + "\n"));
  EXPECT_NE(std::string::npos, text.find(base::nativePath(videos) + "\n"));
  const std::string log = logText();
  EXPECT_LT(log.find("UI event: Open Snapshot Folder"), log.find("UI event: Open Video Folder"));
  EXPECT_NE(std::string::npos, log.find("UI event: Open Video Folder"));
}

// The status line: the phone, the picture's size with the rate counted
// between two ticks, the recording time, and nothing of the phone once it
// left.
TEST_F(MainFrameConsoleTest, TheStatusLineFollowsPhonePictureAndRecording) {
  setPort(0);
  base::MessageLoop loop;
  CMainFrame frame;
  ASSERT_TRUE(frame.createWindow(u"Title"));
  auto* console = static_cast<ConsoleWindow*>(frame.window());
  EXPECT_EQ("Phone: none", console->statusLine());
  console->showPhoneConnected(u"Ann");
  EXPECT_EQ("Phone: Ann", console->statusLine());  // no picture yet

  component::VideoFrame picture;
  picture.width = 640;
  picture.height = 480;
  console->updateStatus(10000);
  for (int i = 0; i < 15; ++i) frame.OnVideoFrame(nullptr, picture);
  console->updateStatus(11500);
  EXPECT_EQ("Phone: Ann | 640x480 at 10 fps", console->statusLine());
  EXPECT_EQ("Phone: Ann | 640x480", console->statusLine(false));

  console->showRecording(true);
  console->showRecordingTime(3723999);
  EXPECT_EQ("Phone: Ann | 640x480 at 10 fps | Recording 01:02:03", console->statusLine());
  EXPECT_EQ("Phone: Ann | 640x480 | Recording", console->statusLine(false));
  console->showRecording(false);
  console->showPhoneDisconnected(u"Ann");
  EXPECT_EQ("Phone: none", console->statusLine());
}

}  // namespace
