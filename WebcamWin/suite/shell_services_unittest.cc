// The shell services as the main window uses them: the update check's
// answers turn into the right message boxes, whether the check ran at
// start, on request or through message 0xBC3.
#include "WebcamWin/suite/shell_services.h"

#include <gtest/gtest.h>

#include <ctime>

#include "WebcamWin/controller/frame_window.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/testing/shell_test_util.h"
#include "WebcamWin/support/test_http_server.h"
#include "base/file_util.h"

namespace {

constexpr int kWaitMs = 60000;

struct Box {
  base::string16 text;
  uint32_t type;
};

class FakeFrame : public FrameWindow {
 public:
  bool create(const base::string16&) override { return true; }
  void centre() override {}
  void show(int) override {}
  void bringToFront() override {}
  bool visible() const override { return true; }
  void destroy() override {}
  void postClose(uintptr_t) override {}
  void postShow() override {}
  void showStatus(const base::string16&) override {}
  int messageBox(const base::string16& text, uint32_t type) override {
    boxes.push_back({text, type});
    return kIdNo;
  }
  std::vector<Box> boxes;
};

class ShellServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const base::string16 lang = base::joinPath(base::joinPath(base::dirName(base::executableDirectory()), u"bin"),
                                               base::baseName(ResourceLibrary::defaultPath()));
    ASSERT_TRUE(resources_.load(lang));
    ResourceLibrary::setCurrent(&resources_);
    ASSERT_TRUE(server_.start());
    env_.set("LUMORA_UPDATE_URL", "http://" + server_.hostAndPort() + "/server/webcam-win-latest.php");
    // No wave service on this machine's scratch places.
    env_.set("XDG_RUNTIME_DIR", "/nonexistent-runtime");
    env_.set("XDG_CONFIG_HOME", "/nonexistent-config");
    CSettings::Instance().setLastUpdateCheckTime(0);
  }
  void TearDown() override {
    ResourceLibrary::setCurrent(nullptr);
    CSettings::Instance().setLastUpdateCheckTime(0);
  }

  bool waitForBoxes(size_t count) {
    return shell_test::pumpUntil(&loop_, [&] { return frame_.boxes.size() >= count; }, kWaitMs);
  }

  base::MessageLoop loop_;
  ResourceLibrary resources_;
  support_test::TestHttpServer server_;
  shell_test::ScopedEnvironment env_;
  FakeFrame frame_;
};

TEST_F(ShellServicesTest, StartChecksAndOffersANewerVersion) {
  server_.setAnswer(200, "2.3");
  ShellServices services(&frame_);
  services.start();
  ASSERT_TRUE(waitForBoxes(1));
  EXPECT_EQ(0u, frame_.boxes[0].text.find(u"Lumora ZuvIridar version 2.3.0 now available for download."));
  EXPECT_EQ(kMbYesNo | kMbIconInformation, frame_.boxes[0].type);
  services.onDestroy();
}

TEST_F(ShellServicesTest, AskedChecksAnswerUpToDateOrFailure) {
  server_.setAnswer(200, "2.2.0.9");
  CSettings::Instance().setLastUpdateCheckTime(CCheckForUpdate::fileTimeFromUnix(std::time(nullptr)));
  ShellServices services(&frame_);
  services.start();  // the automatic check waits for its 12 hours
  EXPECT_EQ(0u, server_.requests().size());

  ASSERT_TRUE(services.messageWindow()->post(CCheckForUpdate::kMsgCheckNow));
  ASSERT_TRUE(waitForBoxes(1));
  EXPECT_EQ(u"Your version of Lumora ZuvIridar is up-to-date.", frame_.boxes[0].text);
  EXPECT_EQ(kMbOk | kMbIconInformation, frame_.boxes[0].type);

  server_.setAnswer(404, "2.3");
  services.checkForUpdatesNow();
  ASSERT_TRUE(waitForBoxes(2));
  EXPECT_EQ(0u, frame_.boxes[1].text.find(u"An error occurred connecting to update server."));
  EXPECT_EQ(kMbOk | kMbIconError, frame_.boxes[1].type);
  EXPECT_EQ(2u, server_.requests().size());
  services.onDestroy();
}

}  // namespace
