// The guard on Linux: a fatal signal ends in the log's FATAL line and exit
// code 255.
#include <gtest/gtest.h>

#include "WebcamWin/last_chance.h"
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
  }
  void TearDown() override { base::removeTree(dir_); }
  std::string logText() {
    std::string text;
    base::readFile(log_, &text);
    return text;
  }
  base::string16 dir_, log_;
};

// Kept out of the compiler's sight so that it emits the access as written.
volatile uintptr_t g_badAddress = 0;

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
        base::initLogging(log_, base::kLogToFile, base::kLockInProcess, 0);
        installLastChanceGuard();
        writeAt(0x20);
      },
      ::testing::ExitedWithCode(255), "");
  EXPECT_NE(std::string::npos, logText().find("Attempt to write data at address 0x"));
}

}  // namespace
