// The controller's recording commands in-process, with a front end that
// remembers what it was told and a phone on loopback that counts the
// actions it hears.
#include <gtest/gtest.h>

#include <vector>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/frame_window.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/settings/settings.h"
#include "base/file_util.h"
#include "base/logging.h"
#include "base/message_loop.h"
#include "base/reg_key.h"
#include "base/test_util.h"
#include "components/recorder/media_probe.h"
#include "components/video/test_card.h"
#include "tools/phonesim/phone_connection.h"
#include "tools/phonesim/session_messages.h"

namespace {

class RememberingWindow : public FrameWindow {
 public:
  explicit RememberingWindow(CMainFrame* frame) : frame_(frame) {}
  bool create(const base::string16&) override { return frame_->onCreate(); }
  void centre() override {}
  void show(int) override {}
  void bringToFront() override {}
  bool visible() const override { return true; }
  void destroy() override {
    if (destroyed_) return;
    destroyed_ = true;
    frame_->onDestroy();
  }
  void postClose(uintptr_t) override {}
  void postShow() override {}
  void showStatus(const base::string16&) override {}
  void showRecording(bool recording) override { recordingShown.push_back(recording); }
  void showRecordingTime(uint32_t ms) override { times.push_back(ms); }

  std::vector<bool> recordingShown;
  std::vector<uint32_t> times;

 private:
  CMainFrame* frame_;
  bool destroyed_ = false;
};

class ActionPhone : public phonesim::PhoneConnection::Observer {
 public:
  ActionPhone() { connection.addObserver(this); }
  ~ActionPhone() override { connection.removeObserver(this); }
  void onMessage(phonesim::PhoneConnection*, const transport::Frame& frame) override {
    int32_t kind = 0, value = 0;
    if (frame.type == phonesim::kAuthType && phonesim::readKind(frame.payload, &kind) && kind == 2) accepted = true;
    if (frame.type != phonesim::kActionType || !phonesim::readKind(frame.payload, &kind)) return;
    if (kind == 4 && phonesim::readIntegerField(frame.payload, 1, &value)) times.push_back(static_cast<uint32_t>(value));
    else actions.push_back(kind);
  }
  phonesim::PhoneConnection connection;
  bool accepted = false;
  std::vector<int32_t> actions;
  std::vector<uint32_t> times;
};

template <typename Done>
bool pumpUntil(base::MessageLoop& loop, Done done) {
  for (int i = 0; i < 1000 && !done(); ++i) loop.runFor(10);
  return done();
}

class MainFrameRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::beginRegistryOverrideForTesting());
    dir_ = base::makeTempDirectory(u"mainframe-recording");
    base::initLogging(base::joinPath(dir_, u"server.log"), base::kLogToFile, base::kLockInProcess, 0);
    base::RegKey key;
    ASSERT_EQ(base::kRegOk, key.create(base::RegRoot::kCurrentUser, kAppRegistryKey));
    ASSERT_EQ(base::kRegOk, key.writeValueDW(u"Port", 0));
    ASSERT_TRUE(CSettings::Instance().load());
    CSettings::Instance().addDevice(u"REC-PHONE", u"Recording phone", 1);
  }
  void TearDown() override {
    base::resetLoggingForTesting();
    base::endRegistryOverrideForTesting();
    base::removeTree(dir_);
  }
  base::string16 dir_;
};

TEST_F(MainFrameRecordingTest, StartAndStopTellTheViewAlwaysAndThePhoneOnlyWhatReallyHappened) {
  base::MessageLoop loop;
  CMainFrame frame;
  auto owned = std::make_unique<RememberingWindow>(&frame);
  RememberingWindow* window = owned.get();
  ASSERT_TRUE(frame.createWindow(std::move(owned), u"Title"));
  ActionPhone phone;
  std::string error;
  ASSERT_TRUE(phone.connection.connect("127.0.0.1", frame.transport()->localPort(), 5000, &error)) << error;
  ASSERT_TRUE(pumpUntil(loop, [&] { return phone.connection.isConnected(); }));
  ASSERT_TRUE(phone.connection.sendHandshake(phonesim::PhoneIdentity()));
  phone.connection.sendMessage(phonesim::kAuthType, phonesim::authData("REC-PHONE", "Recording phone"));
  ASSERT_TRUE(pumpUntil(loop, [&] { return phone.accepted && frame.streaming(); }));
  // The recording size comes from the last frame the phone sent.
  frame.OnVideoFrame(frame.videoComponent(), component::makeTestCard(320, 240));

  // The movies folder cannot be made (a file stands in its way): the view,
  // which was told of the start, hears that there is no recording; the
  // phone hears nothing.
  const base::string16 blocked = base::joinPath(dir_, u"blocked");
  ASSERT_TRUE(base::writeFileAtomic(blocked, "a file"));
  CSettings::Instance().setMoviesFolder(base::joinPath(blocked, u"Movies"));
  frame.startRecording();
  EXPECT_FALSE(frame.recording());
  EXPECT_EQ((std::vector<bool>{true, false}), window->recordingShown);

  // A folder two levels deep that is not there yet is made.
  const base::string16 movies = base::joinPath(base::joinPath(dir_, u"Видео"), u"Lumora");
  CSettings::Instance().setMoviesFolder(movies);
  window->recordingShown.clear();
  frame.startRecording();
  ASSERT_TRUE(frame.recording());
  ASSERT_TRUE(pumpUntil(loop, [&] { return phone.actions.size() == 1; }));
  EXPECT_EQ(1, phone.actions[0]);
  // A second start while recording changes nothing and sends nothing.
  frame.startRecording();
  ASSERT_TRUE(pumpUntil(loop, [&] { return window->times.size() >= 5 && phone.times.size() >= 5; }));
  EXPECT_EQ(1u, phone.actions.size());
  EXPECT_EQ(1u, base::listDirectory(movies).size());
  // The same rising times reach the phone and the view.
  for (size_t i = 1; i < window->times.size(); ++i) EXPECT_GE(window->times[i], window->times[i - 1]);
  EXPECT_EQ(std::vector<uint32_t>(window->times.begin(), window->times.begin() + 5),
            std::vector<uint32_t>(phone.times.begin(), phone.times.begin() + 5));

  frame.stopRecording();
  EXPECT_FALSE(frame.recording());
  ASSERT_TRUE(pumpUntil(loop, [&] { return phone.actions.size() == 2; }));
  EXPECT_EQ(2, phone.actions[1]);
  // Stopping again tells the view but not the phone; no times any more.
  const size_t timesSeen = window->times.size();
  frame.stopRecording();
  loop.runFor(300);
  EXPECT_EQ(2u, phone.actions.size());
  EXPECT_EQ(timesSeen, window->times.size());
  EXPECT_EQ((std::vector<bool>{true, true, false, false}), window->recordingShown);

  const std::vector<base::string16> files = base::listDirectory(movies);
  ASSERT_EQ(1u, files.size());
  const component::MediaProbe probe = component::probeMedia(base::joinPath(movies, files[0]));
  ASSERT_TRUE(probe.opened) << probe.error;
  EXPECT_EQ(320, probe.width);

  // Destroying the window while recording finishes the file.
  frame.startRecording();
  ASSERT_TRUE(frame.recording());
  ASSERT_TRUE(pumpUntil(loop, [&] { return window->times.size() > timesSeen + 3; }));
  window->destroy();
  EXPECT_FALSE(frame.recording());
  // Two recordings within one second keep both files.
  EXPECT_EQ(2u, base::listDirectory(movies).size());
  for (const auto& name : base::listDirectory(movies)) {
    const component::MediaProbe again = component::probeMedia(base::joinPath(movies, name));
    EXPECT_TRUE(again.opened) << again.error;
    EXPECT_GT(again.videoFrames, 3);
  }
}

}  // namespace
