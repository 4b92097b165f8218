// The controller's answers to the user, seen through a stand-in window: the
// closing questions and their box, the view's and the tray menu's commands,
// the balloons, the first-run tip and the settings dialog's rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/settings/settings_dialog.h"
#include "base/file_util.h"
#include "base/reg_key.h"

namespace {

struct Calls {
  std::vector<int> shows;
  int fronts = 0;
  int destroys = 0;
  int abouts = 0;
  std::vector<uintptr_t> closes;
  std::vector<std::pair<base::string16, base::string16>> balloons;
  int questions = 0;
  std::vector<base::string16> prompts;
  std::vector<bool> trayConnected;
  // The answer and box state the user gives to the question.
  int answer = kIdOk;
  bool tick = false;
};

class FakeWindow : public FrameWindow {
 public:
  explicit FakeWindow(Calls* calls) : c_(calls) {}
  bool create(const base::string16&) override { return true; }
  void centre() override {}
  void show(int command) override { c_->shows.push_back(command); }
  void bringToFront() override { ++c_->fronts; }
  bool visible() const override { return true; }
  void destroy() override { ++c_->destroys; }
  void postClose(uintptr_t param) override { c_->closes.push_back(param); }
  void postShow() override {}
  void showStatus(const base::string16&) override {}
  void showBalloon(const base::string16& title, const base::string16& text) override {
    c_->balloons.emplace_back(title, text);
  }
  void showAbout() override { ++c_->abouts; }
  void showAuthorizationPrompt(const base::string16& name, const base::string16& uid) override {
    c_->prompts.push_back(name + u"/" + uid);
  }
  void addTrayIcon(const base::string16&) override {}
  void setTrayIconConnected(bool connected) override { c_->trayConnected.push_back(connected); }
  int askBeforeQuitting(const base::string16&, bool* dontAskAgain) override {
    ++c_->questions;
    *dontAskAgain = c_->tick;
    return c_->answer;
  }

 private:
  Calls* c_;
};

class MainFrameUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::beginRegistryOverrideForTesting());
    CSettings& s = CSettings::Instance();
    s.setPromptOnExit(true);
    s.setPromptOnExitIfConnected(true);
    s.setPromptOnExitIfRecording(true);
    s.setShowNotifications(true);
    s.setPort(0);
    frame_.setWindowForTesting(std::make_unique<FakeWindow>(&calls_));
  }
  void TearDown() override {
    frame_.setWindowForTesting(nullptr);
    base::endRegistryOverrideForTesting();
  }

  Calls calls_;
  CMainFrame frame_;
};

TEST_F(MainFrameUiTest, QuitQuestionIsAskedOnceAndItsBoxDecidesTheSetting) {
  CSettings& s = CSettings::Instance();
  // Nothing records and no phone is there: the general question.
  EXPECT_EQ(CMainFrame::kIdsQuit, frame_.closingQuestion());

  // "No" keeps the window and the setting.
  calls_.answer = kIdNo;
  calls_.tick = true;
  frame_.onClose(0);
  EXPECT_EQ(1, calls_.questions);
  EXPECT_EQ(0, calls_.destroys);
  EXPECT_TRUE(s.promptOnExit());

  // Yes with the box ticked: closes and asks no more, the other two kept.
  calls_.answer = kIdOk;
  frame_.onClose(0);
  EXPECT_EQ(1, calls_.destroys);
  EXPECT_FALSE(s.promptOnExit());
  EXPECT_TRUE(s.promptOnExitIfConnected());
  EXPECT_TRUE(s.promptOnExitIfRecording());
  EXPECT_EQ(0u, frame_.closingQuestion());

  // Yes without the box turns the question back on.
  s.setPromptOnExit(true);
  calls_.tick = false;
  frame_.onClose(0);
  EXPECT_TRUE(s.promptOnExit());
  // The question shows the window first.
  ASSERT_FALSE(calls_.shows.empty());
  EXPECT_EQ(kShowNormal, calls_.shows.back());
}

TEST_F(MainFrameUiTest, ExitSwitchAndSilencedQuestionsCloseWithoutAsking) {
  frame_.onClose(kCloseWithoutQuestion);
  EXPECT_EQ(0, calls_.questions);
  EXPECT_EQ(1, calls_.destroys);
  CSettings::Instance().setPromptOnExit(false);
  frame_.onClose(0);
  EXPECT_EQ(0, calls_.questions);
  EXPECT_EQ(2, calls_.destroys);
}

TEST_F(MainFrameUiTest, ViewButtonsHideMinimiseAndOpenAboutNeverClose) {
  using E = CMainFrame::UiEvent;
  frame_.onUiEvent(E::kCloseWindow);
  frame_.onUiEvent(E::kMinimizeWindow);
  frame_.onUiEvent(E::kOpenAbout);
  frame_.onUiEvent(E::kOpenEffects);
  EXPECT_EQ((std::vector<int>{kShowHide, kShowMinimize}), calls_.shows);
  EXPECT_EQ(1, calls_.abouts);
  EXPECT_EQ(0, calls_.destroys);
  EXPECT_TRUE(calls_.closes.empty());
  EXPECT_STREQ("UI event: Open Snapshot Folder", CMainFrame::uiEventLine(E::kOpenSnapshotFolder));
  EXPECT_STREQ("UI event: Stop video recording", CMainFrame::uiEventLine(E::kStopVideoRecording));
}

TEST_F(MainFrameUiTest, TrayMenuShowsHidesAndQuitsThroughTheClosingSequence) {
  EXPECT_TRUE(frame_.onMenuCommand(CMainFrame::kCmdShow));
  EXPECT_EQ(1, calls_.fronts);
  EXPECT_TRUE(frame_.onMenuCommand(CMainFrame::kCmdHide));
  EXPECT_TRUE(frame_.onMenuCommand(CMainFrame::kCmdAbout));
  EXPECT_TRUE(frame_.onMenuCommand(CMainFrame::kCmdExit));
  EXPECT_EQ((std::vector<int>{kShowNormal, kShowHide}), calls_.shows);
  EXPECT_EQ(1, calls_.abouts);
  // Quitting posts a plain close: the questions still apply.
  EXPECT_EQ((std::vector<uintptr_t>{0}), calls_.closes);
  EXPECT_FALSE(frame_.onMenuCommand(20003));
}

TEST_F(MainFrameUiTest, HidingBalloonComesOnceAndOnlyWithNotifications) {
  CSettings::Instance().setShowNotifications(false);
  frame_.onWindowHidden();
  EXPECT_TRUE(calls_.balloons.empty());
  CSettings::Instance().setShowNotifications(true);
  frame_.onWindowHidden();
  frame_.onWindowHidden();
  EXPECT_EQ(1u, calls_.balloons.size());
}

TEST_F(MainFrameUiTest, FirstRunTipAnswerIsSavedAtOnce) {
  CSettings::Instance().setFirstRunTipShow(true);
  frame_.onFirstRunTipClosed(false);
  CSettings reread;
  ASSERT_TRUE(reread.load());
  EXPECT_FALSE(reread.firstRunTipShow());
  EXPECT_FALSE(frame_.firstRunTipWanted());
}

TEST_F(MainFrameUiTest, SettingsOkStoresAChangedPortAndSaves) {
  frame_.applySettingsDialog(5000);
  EXPECT_EQ(5000u, CSettings::Instance().port());
  CSettings reread;
  ASSERT_TRUE(reread.load());
  EXPECT_EQ(5000u, reread.port());
}

TEST_F(MainFrameUiTest, QuestionsComeInOrderRecordingConnectedAnyQuit) {
  CSettings s;
  s.setPromptOnExit(true);
  s.setPromptOnExitIfConnected(true);
  s.setPromptOnExitIfRecording(true);
  EXPECT_EQ(CMainFrame::kIdsQuitWhileRecording, CMainFrame::closingQuestionFor(true, true, s));
  EXPECT_EQ(CMainFrame::kIdsQuitWhileRecording, CMainFrame::closingQuestionFor(true, false, s));
  EXPECT_EQ(CMainFrame::kIdsQuitWhileConnected, CMainFrame::closingQuestionFor(false, true, s));
  EXPECT_EQ(CMainFrame::kIdsQuit, CMainFrame::closingQuestionFor(false, false, s));
  // A silenced question gives way to the next one that applies.
  s.setPromptOnExitIfRecording(false);
  EXPECT_EQ(CMainFrame::kIdsQuitWhileConnected, CMainFrame::closingQuestionFor(true, true, s));
  EXPECT_EQ(CMainFrame::kIdsQuit, CMainFrame::closingQuestionFor(true, false, s));
  s.setPromptOnExitIfConnected(false);
  EXPECT_EQ(CMainFrame::kIdsQuit, CMainFrame::closingQuestionFor(true, true, s));
  s.setPromptOnExit(false);
  EXPECT_EQ(0u, CMainFrame::closingQuestionFor(true, true, s));
  // The general question off does not silence the particular ones.
  s.setPromptOnExitIfRecording(true);
  EXPECT_EQ(CMainFrame::kIdsQuitWhileRecording, CMainFrame::closingQuestionFor(true, true, s));
  EXPECT_EQ(0u, CMainFrame::closingQuestionFor(false, true, s));
}

TEST_F(MainFrameUiTest, EachQuestionsBoxChangesOnlyItsOwnSetting) {
  struct Case {
    uint32_t question;
    bool recording, connected, any;  // the settings after a ticked box
  };
  const Case cases[] = {
      {CMainFrame::kIdsQuitWhileRecording, false, true, true},
      {CMainFrame::kIdsQuitWhileConnected, true, false, true},
      {CMainFrame::kIdsQuit, true, true, false},
      {0, true, true, true},
  };
  for (const Case& c : cases) {
    CSettings s;
    s.setPromptOnExit(true);
    s.setPromptOnExitIfConnected(true);
    s.setPromptOnExitIfRecording(true);
    CMainFrame::rememberQuitAnswer(c.question, true, &s);
    EXPECT_EQ(c.recording, s.promptOnExitIfRecording()) << c.question;
    EXPECT_EQ(c.connected, s.promptOnExitIfConnected()) << c.question;
    EXPECT_EQ(c.any, s.promptOnExit()) << c.question;
    // An unticked box turns its question (back) on, and only that one.
    s.setPromptOnExit(false);
    s.setPromptOnExitIfConnected(false);
    s.setPromptOnExitIfRecording(false);
    CMainFrame::rememberQuitAnswer(c.question, false, &s);
    EXPECT_EQ(c.question == CMainFrame::kIdsQuitWhileRecording, s.promptOnExitIfRecording()) << c.question;
    EXPECT_EQ(c.question == CMainFrame::kIdsQuitWhileConnected, s.promptOnExitIfConnected()) << c.question;
    EXPECT_EQ(c.question == CMainFrame::kIdsQuit, s.promptOnExit()) << c.question;
  }
}

TEST_F(MainFrameUiTest, PhoneTakenOffTheListIsAskedAgain) {
  CSettings& s = CSettings::Instance();
  component::AuthComponent::Record phone;
  phone.name = "Test iPhone";
  phone.uniqueId = "5b1c0d9e-1111";
  // Denied for good (status 0): no prompt and no answer.
  s.addDevice(u"5b1c0d9e-1111", u"Test iPhone", 0);
  frame_.OnAuthDataReceived(nullptr, phone);
  EXPECT_TRUE(calls_.prompts.empty());
  EXPECT_FALSE(frame_.authorizationPending());
  // Both front ends remove through the controller, which saves at once; an
  // id no longer listed is passed over.
  s.addDevice(u"other", u"Other iPhone", 1);
  EXPECT_EQ(1u, CMainFrame::removeFromAccessList({u"5b1c0d9e-1111", u"not-listed"}));
  CSettings stored;
  ASSERT_TRUE(stored.load());
  uint32_t status = 0;
  EXPECT_FALSE(stored.findDevice(u"5b1c0d9e-1111", &status));
  EXPECT_TRUE(stored.findDevice(u"other", &status));
  frame_.OnAuthDataReceived(nullptr, phone);
  EXPECT_EQ((std::vector<base::string16>{u"Test iPhone/5b1c0d9e-1111"}), calls_.prompts);
  EXPECT_TRUE(frame_.authorizationPending());
  // The prompt brings the window up.
  ASSERT_FALSE(calls_.shows.empty());
  EXPECT_EQ(kShowNormal, calls_.shows.back());
}

TEST_F(MainFrameUiTest, AnswerCountsOnlyForThePromptItWasGivenFor) {
  int64_t now = 1000000;
  frame_.setClockForTesting([&] { return now; });
  component::AuthComponent::Record first;
  first.name = "Anna's iPhone";
  first.uniqueId = "u-1";
  component::AuthComponent::Record swapped;
  swapped.name = "Somebody else";
  swapped.uniqueId = "u-2";

  frame_.OnAuthDataReceived(nullptr, first);
  const uint64_t firstPrompt = frame_.promptId();
  // The same connection says it is someone else at once: the old prompt
  // goes, and the new one waits for the interval to end.
  now += CMainFrame::kPromptIntervalMs - 1;
  frame_.OnAuthDataReceived(nullptr, swapped);
  EXPECT_FALSE(frame_.authorizationPending());
  EXPECT_TRUE(frame_.decisionDeferred());
  EXPECT_EQ(1u, calls_.prompts.size());
  EXPECT_FALSE(frame_.answerAuthorization(CMainFrame::AuthAnswer::kAllowAlways, firstPrompt));

  now += 1;
  frame_.runDeferredDecision();
  ASSERT_EQ((std::vector<base::string16>{u"Anna's iPhone/u-1", u"Somebody else/u-2"}), calls_.prompts);
  EXPECT_TRUE(frame_.authorizationPending());
  // A key or button pressed for the first prompt does not answer the second.
  EXPECT_FALSE(frame_.answerAuthorization(CMainFrame::AuthAnswer::kAllowAlways, firstPrompt));
  EXPECT_TRUE(frame_.authorizationPending());
  uint32_t status = 0;
  EXPECT_FALSE(CSettings::Instance().findDevice(u"u-1", &status));
  EXPECT_FALSE(CSettings::Instance().findDevice(u"u-2", &status));
  EXPECT_TRUE(frame_.answerAuthorization(CMainFrame::AuthAnswer::kAllowAlways, frame_.promptId()));
  EXPECT_TRUE(CSettings::Instance().findDevice(u"u-2", &status));
  EXPECT_FALSE(frame_.authorizationPending());

  // A new connection is asked about at once.
  frame_.onClientDidDisconnect(nullptr);
  frame_.OnAuthDataReceived(nullptr, first);
  EXPECT_EQ(3u, calls_.prompts.size());
}

TEST_F(MainFrameUiTest, ConnectionBalloonsNameThePhoneAndFollowTheSetting) {
  // The balloons' texts come from the resource library beside the programs.
  ResourceLibrary library;
  ASSERT_TRUE(library.load(base::joinPath(base::joinPath(base::dirName(base::executableDirectory()), u"bin"),
                                          base::baseName(ResourceLibrary::defaultPath()))));
  ResourceLibrary::setCurrent(&library);
  component::AuthComponent::Record phone;
  phone.name = "Anna's iPhone";
  phone.uniqueId = "u-1";
  frame_.OnAuthDataReceived(nullptr, phone);
  // The answer without an auth component still tells the window.
  frame_.answerAuthorization(CMainFrame::AuthAnswer::kAllowOnce);
  frame_.onClientDidDisconnect(nullptr);
  ASSERT_EQ(2u, calls_.balloons.size());
  EXPECT_EQ(kProductName, calls_.balloons[0].first);
  EXPECT_NE(base::string16::npos, calls_.balloons[0].second.find(u"'Anna's iPhone' is now connected"));
  EXPECT_NE(base::string16::npos, calls_.balloons[1].second.find(u"'Anna's iPhone' is now disconnected"));
  EXPECT_EQ((std::vector<bool>{true, false}), calls_.trayConnected);

  // Without notifications the icon still changes, but nothing pops up.
  CSettings::Instance().setShowNotifications(false);
  frame_.OnAuthDataReceived(nullptr, phone);
  frame_.answerAuthorization(CMainFrame::AuthAnswer::kAllowOnce);
  frame_.onClientDidDisconnect(nullptr);
  EXPECT_EQ(2u, calls_.balloons.size());
  EXPECT_EQ((std::vector<bool>{true, false, true, false}), calls_.trayConnected);
}

TEST(SettingsDialogTest, PortFieldTakesWholeNumbersBelow65536) {
  uint32_t port = 7;
  EXPECT_TRUE(parsePortField(u"65535", &port));
  EXPECT_EQ(65535u, port);
  EXPECT_TRUE(parsePortField(u"", &port));
  EXPECT_EQ(0u, port);
  port = 7;
  EXPECT_FALSE(parsePortField(u"65536", &port));
  EXPECT_FALSE(parsePortField(u"80ab", &port));
  EXPECT_FALSE(parsePortField(u"-1", &port));
  EXPECT_FALSE(parsePortField(u" 80", &port));
  EXPECT_FALSE(parsePortField(u"99999999999999999999", &port));
  EXPECT_EQ(7u, port);
  // Only the first 20 characters are read.
  EXPECT_TRUE(parsePortField(u"00000000000000000080junk", &port));
  EXPECT_EQ(80u, port);
}

TEST(SettingsDialogTest, RunEntryIsWrittenAndRemovedOnlyWhenTheKeyExists) {
  ASSERT_TRUE(base::beginRegistryOverrideForTesting());
  // No Run key: nothing is written, and the key is not made.
  EXPECT_FALSE(writeRunEntry(true, u"C:\\x\\server.exe"));
  base::RegKey key;
  EXPECT_NE(base::kRegOk, key.open(base::RegRoot::kCurrentUser, kRunKey));

  ASSERT_EQ(base::kRegOk, key.create(base::RegRoot::kCurrentUser, kRunKey));
  EXPECT_TRUE(writeRunEntry(true, u"C:\\x\\server.exe"));
  base::string16 value;
  ASSERT_EQ(base::kRegOk, key.readValue(kProductName, &value));
  EXPECT_EQ(u"C:\\x\\server.exe -minimize", value);
  EXPECT_TRUE(writeRunEntry(false, u"C:\\x\\server.exe"));
  EXPECT_FALSE(key.hasValue(kProductName));
  // Off twice is fine.
  EXPECT_TRUE(writeRunEntry(false, u"C:\\x\\server.exe"));
  base::endRegistryOverrideForTesting();
}

}  // namespace

#ifdef QL_ARTWORK_DIR
#include "base/file_util.h"
#include "components/video/shutter_sound.h"

namespace {

// The shutter sound built into the Windows program comes from the artwork
// script; it must stay the sound the Linux program makes itself.
TEST(ArtworkTest, ShutterSoundFileIsTheBuiltInSound) {
  std::string file;
  ASSERT_TRUE(base::readFile(base::utf8ToWide(QL_ARTWORK_DIR "/sound_camera_capture.wav"), &file));
  const std::vector<uint8_t> built = component::makeShutterWave();
  ASSERT_EQ(built.size(), file.size());
  // Header bytes alike; samples within one step (the two exp() may round
  // apart).
  for (size_t i = 0; i < 44; ++i) ASSERT_EQ(built[i], static_cast<uint8_t>(file[i])) << i;
  for (size_t i = 44; i + 1 < built.size(); i += 2) {
    const int a = static_cast<int16_t>(built[i] | built[i + 1] << 8);
    const int b = static_cast<int16_t>(static_cast<uint8_t>(file[i]) | static_cast<uint8_t>(file[i + 1]) << 8);
    ASSERT_LE(std::abs(a - b), 1) << i;
  }
}

}  // namespace
#endif
