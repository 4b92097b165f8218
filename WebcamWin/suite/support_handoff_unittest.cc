// The hand-off to the support tool: the exact bytes of the seven lines, a
// stand-in tool that records what it got, a missing tool, the interface
// staying responsive while the tool runs, and the real tool uploading the
// log to a local server.
#include "WebcamWin/suite/support_handoff.h"

#include <gtest/gtest.h>

#include "WebcamWin/testing/shell_test_util.h"
#include "WebcamWin/support/test_http_server.h"
#include "WebcamWin/support/test_process.h"
#include "base/file_util.h"
#include "base/test_util.h"

namespace {

using shell_test::fileText;
using support_test::nativeTestPath;

constexpr int kWaitMs = 60000;

SupportFacts someFacts() {
  SupportFacts facts;
  facts.log = u"C:\\Users\\Zo\u00eb\\AppData\\Roaming\\logs\\Webcam-2024.01.02-03.04.05.log";
  facts.supportForm = u"http://www.lumora.example/en/support/support.php?form=zuviridar_iphone";
  facts.deviceModel = u"iPhone15,3";
  facts.deviceSoftware = u"iOS v17.2";
  return facts;
}

TEST(SupportHandOffTextTest, SevenLinesInOrderAsUtf16LittleEndian) {
  const base::string16 text = supportHandOffText(someFacts());
  EXPECT_EQ(u"Product:Lumora ZuvIridar for iPhone\n"
            u"Company:Quillon Labs\n"
            u"Version:2.2.0.0\n"
            u"Log:C:\\Users\\Zo\u00eb\\AppData\\Roaming\\logs\\Webcam-2024.01.02-03.04.05.log\n"
            u"SupportForm:http://www.lumora.example/en/support/support.php?form=zuviridar_iphone\n"
            u"DeviceModel:iPhone15,3\n"
            u"DeviceSoftware:iOS v17.2\n",
            text);
  const std::string bytes = utf16LeBytes(u"P:\u00eb\u20ac\n");
  EXPECT_EQ(std::string("P\0:\0\xeb\0\xac\x20\n\0", 10), bytes);
}

TEST(SupportHandOffTextTest, NoPhoneYetLeavesTheDeviceValuesEmpty) {
  SupportFacts facts = someFacts();
  facts.deviceModel.clear();
  facts.deviceSoftware.clear();
  const base::string16 text = supportHandOffText(facts);
  const base::string16 tail = u"\nDeviceModel:\nDeviceSoftware:\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(tail, text.substr(text.size() - tail.size()));
}

class SupportHandOffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = base::makeTempDirectory(u"handoff");
    record_ = base::joinPath(folder_, u"record.bin");
    release_ = base::joinPath(folder_, u"release");
    env_.set("HANDOFF_RECORD", nativeTestPath(base::wideToUtf8(record_)));
  }
  void TearDown() override { base::removeTree(folder_); }

  base::string16 child() const { return shell_test::testProgram(u"handoff_test_child"); }

  base::string16 folder_, record_, release_;
  shell_test::ScopedEnvironment env_;
  shell_test::LogCapture log_;
};

TEST_F(SupportHandOffTest, TheToolGetsExactlyTheSevenLines) {
  const std::string bytes = utf16LeBytes(supportHandOffText(someFacts()));
  EXPECT_EQ(0, runSupportTool(child(), bytes, nullptr));
  EXPECT_EQ(bytes, fileText(record_));
  EXPECT_FALSE(log_.contains("failed"));
}

TEST_F(SupportHandOffTest, MissingToolIsLoggedAndReported) {
  const base::string16 missing = base::joinPath(folder_, u"no-such-support-tool");
  EXPECT_EQ(static_cast<int32_t>(0x80070002u), runSupportTool(missing, "x", nullptr));
  EXPECT_TRUE(log_.contains("CreateProcess failed"));
  EXPECT_EQ("", fileText(record_));
}

TEST_F(SupportHandOffTest, InterfaceKeepsAnsweringWhileTheToolRuns) {
  env_.set("HANDOFF_RELEASE", nativeTestPath(base::wideToUtf8(release_)));
  base::MessageLoop loop;
  shell_test::MessageRecorder recorder;
  CSupportHandOff handOff;
  int32_t result = -1;
  bool done = false;
  const std::string bytes = utf16LeBytes(supportHandOffText(someFacts()));
  ASSERT_TRUE(handOff.start(child(), bytes, [&](int32_t r) {
    result = r;
    done = true;
  }));
  EXPECT_FALSE(handOff.start(child(), bytes, nullptr));  // one at a time
  ASSERT_TRUE(shell_test::pumpUntil(&loop, [&] { return fileText(record_) == bytes; }, kWaitMs));

  // The tool waits; the loop still handles what is posted to it.
  for (uintptr_t i = 1; i <= 3; ++i) {
    recorder.window()->post(base::kMsgUser + 7, i);
    ASSERT_TRUE(shell_test::pumpUntil(&loop, [&] { return recorder.messages.size() == i; }, kWaitMs));
  }
  EXPECT_TRUE(handOff.running());
  EXPECT_FALSE(done);

  ASSERT_TRUE(base::writeFileAtomic(release_, "go"));
  ASSERT_TRUE(shell_test::pumpUntil(&loop, [&] { return done; }, kWaitMs));
  EXPECT_EQ(0, result);
  EXPECT_FALSE(handOff.running());
}

TEST_F(SupportHandOffTest, ClosingWhileTheToolRunsDoesNotWaitForIt) {
  env_.set("HANDOFF_RELEASE", nativeTestPath(base::wideToUtf8(release_)));
  base::MessageLoop loop;
  {
    CSupportHandOff handOff;
    ASSERT_TRUE(handOff.start(child(), "abc", nullptr));
    ASSERT_TRUE(shell_test::pumpUntil(&loop, [&] { return fileText(record_) == "abc"; }, kWaitMs));
  }  // returns although the tool still waits for its release
  base::writeFileAtomic(release_, "go");
}

// The real support tool, uploading to a local server with the browser
// replaced by a recorder.
TEST_F(SupportHandOffTest, RealToolUploadsTheLogToTheSupportServer) {
  support_test::TestHttpServer server;
  ASSERT_TRUE(server.start());
  server.setAnswer(200, "stored-17");
  const base::string16 log = base::joinPath(folder_, u"Webcam-test.log");
  const std::string logText = "INFO:main_frame.cc(1): Initializing main window...\n";
  ASSERT_TRUE(base::writeFileAtomic(log, logText));
  const base::string16 opened = base::joinPath(folder_, u"opened.txt");
  const std::string temp = nativeTestPath(base::wideToUtf8(folder_));
  env_.set("LUMORA_SUPPORT_HOST", server.hostAndPort());
  env_.set("LUMORA_SUPPORT_BROWSER", nativeTestPath(base::wideToUtf8(shell_test::testProgram(u"support_test_browser"))));
  env_.set("SUPPORT_TEST_BROWSER_LOG", nativeTestPath(base::wideToUtf8(opened)));
  env_.set("LUMORA_SUPPORT_LOG", nativeTestPath(base::wideToUtf8(base::joinPath(folder_, u"trace.log"))));
  env_.set("TMPDIR", temp);
  env_.set("TMP", temp);
  env_.set("TEMP", temp);

  SupportFacts facts = someFacts();
  facts.log = base::utf8ToWide(nativeTestPath(base::wideToUtf8(log)));
  facts.supportForm = base::utf8ToWide("http://" + server.hostAndPort() +
                                       "/en/support/support.php?form=zuviridar_iphone");
  base::MessageLoop loop;
  CSupportHandOff handOff;
  bool done = false;
  int32_t result = -1;
  ASSERT_TRUE(handOff.start(shell_test::builtProgram(u"support"), utf16LeBytes(supportHandOffText(facts)),
                            [&](int32_t r) {
                              result = r;
                              done = true;
                            }));
  ASSERT_TRUE(shell_test::pumpUntil(&loop, [&] { return done; }, 120000));
  EXPECT_EQ(0, result);
  ASSERT_EQ(1u, server.requests().size());
  EXPECT_EQ("/en/support_device/logs_uploader.php", server.requests()[0].target);
  EXPECT_NE(std::string::npos, server.requests()[0].body.find(".txt.gz\""));
  const std::string form = fileText(opened);
  EXPECT_EQ(0u, form.find("http://" + server.hostAndPort() + "/en/support/support.php?form=zuviridar_iphone"));
  EXPECT_NE(std::string::npos, form.find("&device=iPhone15,3&device_os=iOS%20v17.2"));
  EXPECT_NE(std::string::npos, form.find("&userfile=stored-17"));
}

}  // namespace
