// The guard on Linux: a fatal signal ends in the log's FATAL line and exit
// code 255; the error report goes to the support tool when the user says
// yes on the terminal, or without a terminal when SendErrorReports is 1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>

#include "WebcamWin/app/last_chance.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/testing/shell_test_util.h"
#include "base/file_util.h"
#include "base/logging.h"
#include "base/test_util.h"

namespace {

class LastChanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // "fast": the child is a fork of this process, so it writes to this
    // test's log file rather than to one made by a SetUp of its own.
    GTEST_FLAG_SET(death_test_style, "fast");
    dir_ = base::makeTempDirectory(u"lastchance");
    log_ = base::joinPath(dir_, u"crash.log");
    record_ = base::joinPath(dir_, u"report.bin");
  }
  void TearDown() override { base::removeTree(dir_); }

  // A folder on PATH whose `support` is the recording stand-in.
  void standInSupportTool() {
    const base::string16 bin = base::joinPath(dir_, u"bin");
    ASSERT_TRUE(base::createDirectories(bin));
    ASSERT_EQ(0, ::symlink(base::nativePath(shell_test::testProgram(u"handoff_test_child")).c_str(),
                           base::nativePath(base::joinPath(bin, u"support")).c_str()));
    env_.set("PATH", base::wideToUtf8(bin));
    env_.set("HANDOFF_RECORD", base::wideToUtf8(record_));
  }
  std::string recorded() { return shell_test::fileText(record_); }

  shell_test::ScopedEnvironment env_;
  base::string16 record_ = u"";
  std::string logText() {
    std::string text;
    base::readFile(log_, &text);
    return text;
  }
  base::string16 dir_, log_;
};

// Kept out of the compiler's sight so that it emits the access as written.
volatile uintptr_t g_badAddress = 0;

// Standard input from the null device: no terminal to ask.
void noTerminal() {
  const int fd = ::open("/dev/null", O_RDONLY);
  ::dup2(fd, STDIN_FILENO);
  ::close(fd);
}

int readAt(uintptr_t address) {
  g_badAddress = address;
  return *reinterpret_cast<volatile int*>(g_badAddress);
}

void writeAt(uintptr_t address) {
  g_badAddress = address;
  *reinterpret_cast<volatile int*>(g_badAddress) = 1;
}

TEST_F(LastChanceTest, BadReadIsLoggedAsAccessViolation) {
  EXPECT_EXIT(
      {
        noTerminal();
        base::initLogging(log_, base::kLogToFile, base::kLockInProcess, 0);
        installLastChanceGuard();
        readAt(0x10);
      },
      ::testing::ExitedWithCode(255), "Internal error");
  const std::string text = logText();
  EXPECT_NE(std::string::npos, text.find(":FATAL:"));
  EXPECT_NE(std::string::npos, text.find("Exception with code = 0xc0000005 at address = 0x"));
  EXPECT_NE(std::string::npos, text.find("Attempt to read data at address 0x"));
  EXPECT_NE(std::string::npos, text.find(std::string(sizeof(void*) * 2 - 2, '0') + "10"));
}

TEST_F(LastChanceTest, BadWriteSaysWrite) {
  EXPECT_EXIT(
      {
        noTerminal();
        base::initLogging(log_, base::kLogToFile, base::kLockInProcess, 0);
        installLastChanceGuard();
        writeAt(0x20);
      },
      ::testing::ExitedWithCode(255), "");
  EXPECT_NE(std::string::npos, logText().find("Attempt to write data at address 0x"));
}

TEST_F(LastChanceTest, WithoutTerminalTheSettingDecidesAboutTheReport) {
  standInSupportTool();
  for (const bool send : {false, true}) {
    SCOPED_TRACE(send);
    EXPECT_EXIT(
        {
          noTerminal();
          base::initLogging(log_, base::kLogToFile, base::kLockInProcess, 0);
          CSettings::Instance().setSendErrorReports(send);
          installLastChanceGuard();
          readAt(0x30);
        },
        ::testing::ExitedWithCode(255), "Internal error");
    EXPECT_NE(std::string::npos, logText().find(send ? "SendErrorReports is 1: the report is sent"
                                                     : "SendErrorReports is 0: no report is sent"));
    if (!send) {
      EXPECT_EQ("", recorded());
    }
  }
  // The report names this run's log file.
  const std::string report = recorded();
  EXPECT_EQ(0u, report.find(std::string("P\0r\0o\0d\0u\0c\0t\0:\0", 16)));
  std::string logLine;
  for (char c : "Log:" + base::wideToUtf8(log_) + "\n") {
    logLine.push_back(c);
    logLine.push_back('\0');
  }
  EXPECT_NE(std::string::npos, report.find(logLine));
}

// A terminal (a pseudo-terminal here) gets the question; the first key decides.
TEST_F(LastChanceTest, OnATerminalTheUserIsAsked) {
  standInSupportTool();
  for (const char* answer : {"n\n", " y\n"}) {
    SCOPED_TRACE(answer);
    base::deleteFile(record_);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(0, ::grantpt(master));
    ASSERT_EQ(0, ::unlockpt(master));
    const std::string slave = ::ptsname(master);
    // Typed ahead: the terminal keeps it until the question reads it.
    ASSERT_EQ(static_cast<ssize_t>(std::strlen(answer)), ::write(master, answer, std::strlen(answer)));
    EXPECT_EXIT(
        {
          const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
          ::dup2(fd, STDIN_FILENO);
          base::initLogging(log_, base::kLogToFile, base::kLockInProcess, 0);
          CSettings::Instance().setSendErrorReports(false);
          installLastChanceGuard();
          readAt(0x40);
        },
        ::testing::ExitedWithCode(255), "Do you want send error report now\\? \\(y/n\\)");
    ::close(master);
    if (answer[0] == 'n') {
      EXPECT_EQ("", recorded());
    } else {
      EXPECT_EQ(0u, recorded().find(std::string("P\0r\0o\0d\0", 8)));
    }
  }
}

}  // namespace
