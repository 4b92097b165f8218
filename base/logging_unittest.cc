#include "base/logging.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "base/file_util.h"
#include "base/test_util.h"

namespace base {
namespace {

class LoggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = makeTempDirectory(u"logging");
    file_ = joinPath(dir_, u"test.log");
    resetLoggingForTesting();
    setLogClockForTesting([] {
      LogTime t;
      t.year = 2026; t.month = 3; t.day = 4; t.hour = 5; t.minute = 6; t.second = 7;
      t.tickCount = 99;
      return t;
    });
    setLogIdsForTesting([](uint32_t* pid, uint32_t* tid) { *pid = 12; *tid = 34; });
  }
  void TearDown() override {
    resetLoggingForTesting();
    setLogClockForTesting(nullptr);
    setLogIdsForTesting(nullptr);
    removeTree(dir_);
  }
  std::string contents() {
    std::string text;
    readFile(file_, &text);
    return text;
  }
  string16 dir_, file_;
};

TEST_F(LoggingTest, ExactLines) {
  ASSERT_TRUE(initLogging(file_, kLogToFile, kLockInProcess, 0));
  LOG(INFO) << "Hello " << 42 << u" w\u00E9de";
  LOG(WARNING) << "careful";
  LOG(ERROR_REPORT) << "report";
  transport::Error e(2, 10054, "Connection reset");
  LOG(INFO) << static_cast<const transport::Error*>(nullptr);
  const int line = __LINE__ + 1;
  LOGF(INFO, "%s=%d", "n", 5);
  setLogItems(false, false);
  LOG(INFO) << "bare";
  setLogTickCount(true);
  LOG(INFO) << "ticks";
  const std::string expected =
      "03/04/2026 05:06:07:INFO:logging_unittest.cc(" + std::to_string(line - 6) +
      "):[12:34] Hello 42 w\xC3\xA9" "de\n"
      "03/04/2026 05:06:07:WARNING:logging_unittest.cc(" + std::to_string(line - 5) +
      "):[12:34] careful\n"
      "03/04/2026 05:06:07:ERROR_REPORT:logging_unittest.cc(" + std::to_string(line - 4) +
      "):[12:34] report\n"
      "03/04/2026 05:06:07:INFO:logging_unittest.cc(" + std::to_string(line - 2) +
      "):[12:34] <Error: (null)>\n"
      "03/04/2026 05:06:07:INFO:logging_unittest.cc(" + std::to_string(line) +
      "):[12:34] n=5\n"
      "INFO:logging_unittest.cc(" + std::to_string(line + 2) + "):bare\n"
      "99:INFO:logging_unittest.cc(" + std::to_string(line + 4) + "):ticks\n";
  EXPECT_EQ(contents(), expected);
  const std::string rendered = describeError(&e);
  EXPECT_EQ(rendered.rfind("<Error: 0x", 0), 0u);
  EXPECT_NE(rendered.find("> Code: 10054. Domain: 2. Description: Connection reset"),
            std::string::npos);
}

TEST_F(LoggingTest, ChecksAndSeverityFilter) {
  ASSERT_TRUE(initLogging(file_, kLogToFile, kLockInProcess, 0));
  setLogItems(false, false);
  int reached = 0;
  CHECK(1 + 1 == 3) << "extra";
  CHECK(true) << "never";
  ++reached;  // a failed check does not stop the program
  setMinLogSeverity(LOG_WARNING);
  LOG(INFO) << "dropped";
  EXPECT_EQ(reached, 1);
  const std::string text = contents();
  EXPECT_NE(text.find("FATAL:logging_unittest.cc("), std::string::npos);
  EXPECT_NE(text.find("):Check failed: 1 + 1 == 3. extra\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("never"), std::string::npos);
  EXPECT_EQ(text.find("dropped"), std::string::npos);
}

TEST_F(LoggingTest, ErrorsReachStandardError) {
  ASSERT_TRUE(initLogging(file_, kLogToFile, kLockInProcess, 0));
  setLogItems(false, false);
  testing::internal::CaptureStderr();
  LOG(INFO) << "quiet";
  LOG(ERROR) << "loud";
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("quiet"), std::string::npos);
  EXPECT_NE(err.find("ERROR:logging_unittest.cc("), std::string::npos);
  EXPECT_NE(err.find("loud\n"), std::string::npos);
}

TEST_F(LoggingTest, KeepExistingAndReinit) {
  ASSERT_TRUE(writeFileAtomic(file_, "old line\n"));
  ASSERT_TRUE(initLogging(file_, kLogToFile, kLockInProcess, 1));
  setLogItems(false, false);
  LOG(INFO) << "appended";
  EXPECT_EQ(contents().rfind("old line\n", 0), 0u);
  ASSERT_TRUE(initLogging(file_, kLogToFile, kLockInProcess, 0));
  LOG(INFO) << "fresh";
  EXPECT_EQ(contents().find("old line"), std::string::npos);
  EXPECT_NE(contents().find("fresh"), std::string::npos);
  // An unopenable file turns file output off without failing the program.
  EXPECT_FALSE(initLogging(joinPath(dir_, u"missing/dir/x.log"), kLogToFile, kLockInProcess, 0));
  LOG(INFO) << "nowhere";
}

TEST_F(LoggingTest, LinesOfManyThreadsNeverInterleave) {
  ASSERT_TRUE(initLogging(file_, kLogToFile, kLockInProcess, 0));
  setLogItems(false, false);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) LOG(INFO) << std::string(100, static_cast<char>('a' + t));
    });
  }
  for (auto& th : threads) th.join();
  const std::string text = contents();
  size_t lines = 0, pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    const std::string body = text.substr(text.find("):", pos) + 2, end - text.find("):", pos) - 2);
    ASSERT_EQ(body.size(), 100u);
    EXPECT_EQ(body, std::string(100, body[0]));
    ++lines;
    pos = end + 1;
  }
  EXPECT_EQ(lines, 800u);
}

TEST_F(LoggingTest, RotationKeepsTen) {
  // Ten matching files, the oldest listed first, a directory named like a
  // log file, and unrelated files.
  for (int i = 0; i < 10; ++i) {
    const auto name = asciiToWide(stringPrintf("Webcam-2026.01.%02d-10.00.00.log", i + 1));
    ASSERT_TRUE(writeFileAtomic(joinPath(dir_, name), "x"));
  }
  ASSERT_TRUE(writeFileAtomic(joinPath(dir_, u"Other-2026.log"), "x"));
  const string16 name = makeLogFileName(dir_, 10, u"Webcam");
  EXPECT_EQ(name, joinPath(dir_, u"Webcam-2026.03.04-05.06.07.log"));
  EXPECT_FALSE(pathExists(joinPath(dir_, u"Webcam-2026.01.01-10.00.00.log")));
  EXPECT_TRUE(pathExists(joinPath(dir_, u"Webcam-2026.01.02-10.00.00.log")));
  EXPECT_TRUE(pathExists(joinPath(dir_, u"Other-2026.log")));
  ASSERT_TRUE(initLogging(name, kLogToFile, kLockInProcess, 0));
  LOG(INFO) << "first line";
  resetLoggingForTesting();
  size_t logs = 0;
  for (const auto& n : listDirectory(dir_))
    if (n.rfind(u"Webcam-", 0) == 0) ++logs;
  EXPECT_EQ(logs, 10u);

  // A directory that sorts first counts as listed but is never deleted: the
  // next file goes instead.
  const string16 sub = joinPath(dir_, u"Webcam-2000.01.01-00.00.00.log");
  ASSERT_TRUE(createDirectories(sub));
  makeLogFileName(dir_, 10, u"Webcam");
  EXPECT_TRUE(isDirectory(sub));
  EXPECT_FALSE(pathExists(joinPath(dir_, u"Webcam-2026.01.02-10.00.00.log")));
  EXPECT_TRUE(pathExists(joinPath(dir_, u"Webcam-2026.01.03-10.00.00.log")));
}

// Two starts within one second: the second gets a file of its own, so its
// new log (keep-existing 0) leaves the lines of the first alone.
TEST_F(LoggingTest, StartsInTheSameSecondGetFilesOfTheirOwn) {
  const string16 first = makeLogFileName(dir_, 10, u"Webcam");
  ASSERT_TRUE(initLogging(first, kLogToFile, kLockInProcess, 0));
  LOG(INFO) << "first start";
  const string16 second = makeLogFileName(dir_, 10, u"Webcam");
  EXPECT_EQ(joinPath(dir_, u"Webcam-2026.03.04-05.06.07-2.log"), second);
  ASSERT_TRUE(initLogging(second, kLogToFile, kLockInProcess, 0));
  LOG(INFO) << "second start";
  resetLoggingForTesting();
  std::string text;
  ASSERT_TRUE(readFile(first, &text));
  EXPECT_NE(std::string::npos, text.find("first start"));
  EXPECT_EQ(std::string::npos, text.find("second start"));
  EXPECT_EQ(joinPath(dir_, u"Webcam-2026.03.04-05.06.07-3.log"), makeLogFileName(dir_, 10, u"Webcam"));
}

}  // namespace
}  // namespace base
