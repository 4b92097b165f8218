// End-to-end on Linux only: signals, the console's output and a missing
// resource library (on Windows that shows a message box nobody answers).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "WebcamWin/e2e/server_process.h"
#include "WebcamWin/platform/desktop.h"
#include "base/file_util.h"
#include "base/platform_thread.h"
#include "base/test_util.h"

namespace {

constexpr uint32_t kTimeoutMs = 30000;
constexpr uint32_t kPollMs = 20;

class ServerE2EPosixTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(user_.setUp()); }
  void TearDown() override { EXPECT_EQ("", user_.sanitizerReports()); }

  bool waitForText(const base::string16& file, const std::string& text) {
    for (uint32_t waited = 0; waited < kTimeoutMs; waited += kPollMs) {
      std::string content;
      if (base::readFile(file, &content) && content.find(text) != std::string::npos) return true;
      base::PlatformThread::sleepMs(kPollMs);
    }
    return false;
  }
  std::string contents(const base::string16& file) {
    std::string text;
    base::readFile(file, &text);
    return text;
  }

  PrivateUser user_;
};

TEST_F(ServerE2EPosixTest, TerminationSignalIsACloseMessage) {
  const base::string16 out = base::joinPath(user_.folder(), u"server.out");
  ServerProcess server;
  ASSERT_TRUE(server.start(ServerProcess::defaultProgram(), {}, out));
  // The console shows the title, then the state.
  ASSERT_TRUE(waitForText(out, "== Lumora ZuvIridar for iPhone ==\nListen on 0.0.0.0:"));
  ASSERT_TRUE(server.terminate());
  int code = -100;
  ASSERT_TRUE(server.wait(kTimeoutMs, &code));
  EXPECT_EQ(1, code);
  const std::string log = user_.logOf(server.pid());
  EXPECT_NE(std::string::npos, log.find("WM_CLOSE message. wParam: 0"));
  EXPECT_NE(std::string::npos, log.find("Exit"));
}

TEST_F(ServerE2EPosixTest, SecondStartRaisesAHiddenFirst) {
  const base::string16 out = base::joinPath(user_.folder(), u"first.out");
  ServerProcess first;
  ASSERT_TRUE(first.start(ServerProcess::defaultProgram(), {"--minimize"}, out));
  ASSERT_TRUE(waitForText(out, "runs in the background"));
  EXPECT_EQ(std::string::npos, contents(out).find("== Lumora"));
  ServerProcess second;
  int code = -100;
  ASSERT_TRUE(second.start(ServerProcess::defaultProgram(), {}, base::joinPath(user_.folder(), u"second.out")));
  ASSERT_TRUE(second.wait(kTimeoutMs, &code));
  EXPECT_EQ(0, code);
  EXPECT_TRUE(waitForText(out, "== Lumora ZuvIridar for iPhone =="));
  first.terminate();
  ASSERT_TRUE(first.wait(kTimeoutMs, &code));
}

TEST_F(ServerE2EPosixTest, MissingResourceLibraryEndsWithMinusOne) {
  // The program alone in a folder, without lang.so.
  const base::string16 lonely = base::joinPath(user_.folder(), u"server");
  std::string binary;
  ASSERT_TRUE(base::readFile(ServerProcess::defaultProgram(), &binary));
  ASSERT_TRUE(base::writeFileAtomic(lonely, binary));
  ASSERT_EQ(0, ::chmod(base::nativePath(lonely).c_str(), 0755));
  const base::string16 out = base::joinPath(user_.folder(), u"lonely.out");
  ServerProcess server;
  ASSERT_TRUE(server.start(lonely, {}, out));
  int code = 0;
  ASSERT_TRUE(server.wait(kTimeoutMs, &code));
  EXPECT_EQ(255, code);
  EXPECT_NE(std::string::npos, contents(out).find("Unable to load resource dll"));
  EXPECT_EQ(std::string::npos, user_.logOf(server.pid()).find("Resource library was loaded"));
}

TEST_F(ServerE2EPosixTest, StartKeepsTheTenNewestLogs) {
  const base::string16 logs = shell::logFolder();
  ASSERT_TRUE(base::createDirectories(logs));
  for (int i = 0; i < 10; ++i) {
    const std::string name = base::stringPrintf("Webcam-2020.01.01-00.00.%02d.log", i);
    ASSERT_TRUE(base::writeFileAtomic(base::joinPath(logs, base::utf8ToWide(name)), "old\n"));
  }
  ASSERT_TRUE(base::writeFileAtomic(base::joinPath(logs, u"notes.txt"), "kept\n"));
  ServerProcess server;
  ASSERT_TRUE(server.start(ServerProcess::defaultProgram(), {"-exit"}, base::joinPath(user_.folder(), u"exit.out")));
  int code = -100;
  ASSERT_TRUE(server.wait(kTimeoutMs, &code));
  EXPECT_EQ(0, code);
  const std::vector<base::string16> names = base::listDirectory(logs);
  EXPECT_EQ(11u, names.size());  // nine old logs, the new one, the notes
  EXPECT_FALSE(base::pathExists(base::joinPath(logs, u"Webcam-2020.01.01-00.00.00.log")));
  EXPECT_TRUE(base::pathExists(base::joinPath(logs, u"Webcam-2020.01.01-00.00.01.log")));
  EXPECT_TRUE(base::pathExists(base::joinPath(logs, u"notes.txt")));
  EXPECT_NE(std::string::npos, user_.logOf(server.pid()).find("Called with arguments: -exit"));
  // The logs hold the phones' unique ids: nobody else may read them.
  struct stat info;
  ASSERT_EQ(0, ::stat(base::wideToUtf8(logs).c_str(), &info));
  EXPECT_EQ(0700u, info.st_mode & 0777);
  int newLogs = 0;
  for (const base::string16& name : names) {
    if (name == u"notes.txt" || name.compare(0, 11, u"Webcam-2020") == 0) continue;
    ASSERT_EQ(0, ::stat(base::wideToUtf8(base::joinPath(logs, name)).c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777) << base::wideToUtf8(name);
    ++newLogs;
  }
  EXPECT_EQ(1, newLogs);
}

// What avahi resolves for the service type, one line per address.
std::string avahiBrowse() { return base::commandOutput("avahi-browse -rtpk _lumora_webcam._tcp 2>/dev/null"); }

TEST_F(ServerE2EPosixTest, TheListeningPortIsPublishedByDnsSdAndWithdrawnAtTheEnd) {
  const base::string16 out = base::joinPath(user_.folder(), u"server.out");
  ServerProcess server;
  ASSERT_TRUE(server.start(ServerProcess::defaultProgram(), {}, out));
  std::string log;
  for (uint32_t waited = 0; waited < kTimeoutMs; waited += kPollMs) {
    log = user_.logOf(server.pid());
    if (log.find("Name now registered and active") != std::string::npos ||
        log.find("DNSServiceRegister() failed") != std::string::npos || !server.running())
      break;
    base::PlatformThread::sleepMs(kPollMs);
  }
  std::smatch match;
  ASSERT_TRUE(std::regex_search(log, match, std::regex("Listen on [0-9.]+:([0-9]+)"))) << log;
  const std::string port = match[1];
  EXPECT_NE(std::string::npos, log.find("Registering Service ._lumora_webcam._tcp.local:" + port)) << log;
  if (log.find("Name now registered and active") == std::string::npos) {
    ASSERT_TRUE(server.terminate());
    int code = -100;
    server.wait(kTimeoutMs, &code);
    GTEST_SKIP() << "no avahi-daemon here: " << log;
  }
  const std::string seen = avahiBrowse();
  EXPECT_NE(std::string::npos, seen.find(";_lumora_webcam._tcp;local;")) << seen;
  EXPECT_NE(std::string::npos, seen.find(";" + port + ";")) << seen;

  ASSERT_TRUE(server.terminate());
  int code = -100;
  ASSERT_TRUE(server.wait(kTimeoutMs, &code));
  bool gone = false;
  for (int i = 0; i < 20 && !gone; ++i) {
    base::PlatformThread::sleepMs(250);
    gone = avahiBrowse().find(";" + port + ";") == std::string::npos;
  }
  EXPECT_TRUE(gone);
}

}  // namespace
