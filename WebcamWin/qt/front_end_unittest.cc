// Both Linux front ends under the real controller, in-process: one table of
// what the controller tells the view, run against the console and the Qt
// window (offscreen), and the Qt dialogs' own rules.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <regex>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/console/console_window.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/qt/artwork_qt.h"
#include "WebcamWin/qt/desktop_theme_qt.h"
#include "WebcamWin/qt/dialogs_qt.h"
#include "WebcamWin/qt/main_widget.h"
#include "WebcamWin/qt/preview_widget.h"
#include "WebcamWin/qt/qt_window.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/settings/settings_dialog.h"
#include "WebcamWin/suite/wavehost.h"
#include "base/file_util.h"
#include "base/logging.h"
#include "base/reg_key.h"
#include "base/test_util.h"
#include "components/video/test_card.h"

namespace {

// What a user can tell from a front end.
struct Seen {
  bool phone = false;
  bool recording = false;
  std::string time;
  bool operator==(const Seen& o) const { return phone == o.phone && recording == o.recording && time == o.time; }
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << "{phone " << s.phone << ", recording " << s.recording << ", time \"" << s.time << "\"}";
}

// What the console shows on its status line.
Seen seenOnConsole(ConsoleWindow* console) {
  const std::string line = console->statusLine(true);
  Seen s;
  s.phone = line.find("Phone: none") == std::string::npos;
  std::smatch time;
  s.recording = std::regex_search(line, time, std::regex("Recording ([0-9:]+)"));
  if (s.recording) s.time = time[1];
  return s;
}

// What the window shows: its buttons and the preview's boxes.
Seen seenInWindow(QtWindow* window) {
  QCoreApplication::processEvents();
  MainWidget* main = window->mainWidget();
  Seen s;
  s.phone = main->snapshotButton()->isEnabled() && main->recordButton()->isEnabled() && main->preview()->live();
  // The latched button, its tooltip and the indicator go together.
  const bool latched = main->recordButton()->latched();
  EXPECT_EQ(latched, main->recordButton()->toolTip() == QStringLiteral("Stop recording"));
  EXPECT_EQ(latched, main->preview()->recordingShown());
  s.recording = latched;
  s.time = main->preview()->timeText().toStdString();
  return s;
}

class FrontEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The update check at start stays on this machine (nothing listens there).
    ::setenv("LUMORA_UPDATE_URL", "http://127.0.0.1:9/server/webcam-win-latest.php", 1);
    ASSERT_TRUE(QtWindow::start("front_end_unittest"));
    // The texts come from the resource library beside the programs.
    static ResourceLibrary library;
    ASSERT_TRUE(library.load(base::joinPath(base::joinPath(base::dirName(base::executableDirectory()), u"bin"),
                                            base::baseName(ResourceLibrary::defaultPath()))));
    ResourceLibrary::setCurrent(&library);
  }
  void SetUp() override {
    ASSERT_TRUE(base::beginRegistryOverrideForTesting());
    dir_ = base::makeTempDirectory(u"frontend");
    base::initLogging(base::joinPath(dir_, u"server.log"), base::kLogToFile, base::kLockInProcess, 0);
    base::RegKey key;
    ASSERT_EQ(base::kRegOk, key.create(base::RegRoot::kCurrentUser, kAppRegistryKey));
    ASSERT_EQ(base::kRegOk, key.writeValueDW(u"FirstRunTipShow", 0));
    ASSERT_EQ(base::kRegOk, key.writeValue(u"LinuxCamera", u"off"));
    ASSERT_TRUE(CSettings::Instance().load());
  }
  void TearDown() override {
    base::resetLoggingForTesting();
    base::endRegistryOverrideForTesting();
    base::removeTree(dir_);
  }
  base::string16 dir_;
};

// A step of the table: what the controller tells the view.
struct Step {
  const char* what;
  std::function<void(FrameWindow*)> tell;
  Seen expected;
};

const std::vector<Step>& table() {
  static const std::vector<Step> steps = {
      {"at start", [](FrameWindow*) {}, {false, false, ""}},
      {"a phone streams", [](FrameWindow* w) { w->showPhoneConnected(u"Ann"); }, {true, false, ""}},
      {"recording starts", [](FrameWindow* w) { w->showRecording(true); }, {true, true, "00:00:00"}},
      {"an hour in", [](FrameWindow* w) { w->showRecordingTime(3723000); }, {true, true, "01:02:03"}},
      {"recording stops", [](FrameWindow* w) { w->showRecording(false); }, {true, false, ""}},
      {"starts again", [](FrameWindow* w) { w->showRecording(true); }, {true, true, "00:00:00"}},
      {"five seconds", [](FrameWindow* w) { w->showRecordingTime(5999); }, {true, true, "00:00:05"}},
      // The phone goes while recording: nothing of the recording stays.
      {"the phone goes", [](FrameWindow* w) { w->showPhoneDisconnected(u"Ann"); }, {false, false, ""}},
      {"another phone", [](FrameWindow* w) { w->showPhoneConnected(u"Bob"); }, {true, false, ""}},
      // Past 99 hours the time goes on rather than wrap.
      {"a long one", [](FrameWindow* w) {
         w->showRecording(true);
         w->showRecordingTime(100u * 3600000u);
       }, {true, true, "100:00:00"}},
  };
  return steps;
}

// Runs the table against the front end `make` gives, under a real
// controller, then closes as "server -exit" would.
template <typename FrontEnd>
void runTable(std::function<std::unique_ptr<FrontEnd>(CMainFrame*)> make, std::function<Seen(FrontEnd*)> seen) {
  base::MessageLoop loop;
  CMainFrame frame;
  std::unique_ptr<FrontEnd> window = make(&frame);
  FrontEnd* raw = window.get();
  ASSERT_TRUE(frame.createWindow(std::move(window), u"Front end"));
  for (const Step& step : table()) {
    step.tell(raw);
    loop.runUntilIdle();
    EXPECT_EQ(step.expected, seen(raw)) << "after: " << step.what;
  }
  frame.window()->postClose(kCloseWithoutQuestion);
  EXPECT_EQ(1, loop.run());
}

TEST_F(FrontEndTest, TheConsoleShowsWhatTheControllerTells) {
  FILE* out = std::tmpfile();
  runTable<ConsoleWindow>([out](CMainFrame* frame) { return std::make_unique<ConsoleWindow>(frame, out); },
                          seenOnConsole);
  std::fclose(out);
}

TEST_F(FrontEndTest, TheWindowShowsWhatTheControllerTells) {
  runTable<QtWindow>([](CMainFrame* frame) { return std::make_unique<QtWindow>(frame); }, seenInWindow);
}

// Answers the message boxes that open while it lives with the button
// captioned `button`, and remembers their texts.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(const QString& button) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this, button] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible()) continue;
        texts.push_back(box->text().toStdString());
        for (QAbstractButton* b : box->buttons())
          if (b->text() == button) b->click();
      }
    });
    timer_.start();
  }
  std::vector<std::string> texts;

 private:
  QTimer timer_;
};

TEST_F(FrontEndTest, SettingsTakeOnlyAWholePortBelow65536) {
  struct Case {
    const char* typed;
    bool accepted;
    uint32_t port;
  };
  for (const Case& c : {Case{"65535", true, 65535}, Case{"", true, 0}, Case{"8080", true, 8080},
                        Case{"65536", false, 0}, Case{"80ab", false, 0}, Case{"-1", false, 0}}) {
    SettingsDialogState state;
    state.port = 1234;
    SettingsDialog dialog(&state, nullptr, nullptr);
    dialog.portField()->setText(QString::fromLatin1(c.typed));
    BoxAnswerer answerer(QStringLiteral("OK"));
    EXPECT_EQ(c.accepted, dialog.closeWith(true)) << c.typed;
    if (c.accepted) {
      EXPECT_EQ(c.port, state.port) << c.typed;
      EXPECT_TRUE(answerer.texts.empty());
    } else {
      EXPECT_EQ(1234u, state.port) << c.typed;
      ASSERT_EQ(1u, answerer.texts.size()) << c.typed;
      EXPECT_NE(std::string::npos, answerer.texts[0].find("65535"));
      EXPECT_EQ(SettingsDialog::kNetwork, dialog.pages()->currentIndex());
    }
  }
}

TEST_F(FrontEndTest, SettingsStoreTheBoxesWhicheverButtonCloses) {
  CSettings& settings = CSettings::Instance();
  settings.setShowNotifications(true);
  SettingsDialogState state;
  SettingsDialog dialog(&state, nullptr, nullptr);
  dialog.notificationsBox()->setChecked(false);
  dialog.portField()->setText(QStringLiteral("not a port"));
  // Cancel: the port is not looked at, the boxes are stored, and the start
  // at login is the desktop's autostart entry.
  const std::string autostart = base::nativePath(dir_) + "/autostart";
  ::setenv("XDG_CONFIG_HOME", base::nativePath(dir_).c_str(), 1);
  const base::string16 entry = base::utf8ToWide(autostart + "/com.quillonlabs.zuviridar_iphone.desktop");
  dialog.startAtLoginBox()->setChecked(true);
  EXPECT_TRUE(dialog.closeWith(false));
  EXPECT_FALSE(settings.showNotifications());
  std::string text;
  ASSERT_TRUE(base::readFile(entry, &text));
  EXPECT_NE(std::string::npos, text.find("-minimize"));
  dialog.startAtLoginBox()->setChecked(false);
  EXPECT_TRUE(dialog.closeWith(false));
  EXPECT_FALSE(base::readFile(entry, &text));
  ::unsetenv("XDG_CONFIG_HOME");
}

// No sound server answers (its socket is gone): the audio page says so,
// shows the stored devices and OK keeps them rather than store the system
// default.
TEST_F(FrontEndTest, SettingsKeepTheSoundDevicesWhileNoSoundServerAnswers) {
  const char* before = std::getenv("PULSE_SERVER");
  const std::string saved = before ? before : "";
  ::setenv("PULSE_SERVER", ("unix:" + base::nativePath(dir_) + "/no-pulse/native").c_str(), 1);
  ASSERT_TRUE(CWaveHost::setOutputDeviceName(u"Line Out Speakers"));
  ASSERT_TRUE(CWaveHost::setInputDeviceName(u"Desk Microphone"));
  {
    SettingsDialogState state;
    SettingsDialog dialog(&state, nullptr, nullptr);
    ASSERT_NE(nullptr, dialog.soundServerNote());
    EXPECT_EQ(QStringLiteral("No sound server answers, so no devices can be listed; the stored choice is kept."),
              dialog.soundServerNote()->text());
    EXPECT_EQ(QStringLiteral("Line Out Speakers"), dialog.speakersBox()->currentText());
    EXPECT_EQ(QStringLiteral("Desk Microphone"), dialog.microphoneBox()->currentText());
    EXPECT_FALSE(dialog.microphoneBox()->isEnabled());
    EXPECT_TRUE(dialog.closeWith(true));
  }
  EXPECT_EQ(u"Line Out Speakers", CWaveHost::outputDeviceName());
  EXPECT_EQ(u"Desk Microphone", CWaveHost::inputDeviceName());

  // Nothing stored: the system default, still not written over anything.
  ASSERT_TRUE(CWaveHost::setInputDeviceName(u""));
  {
    SettingsDialogState state;
    SettingsDialog dialog(&state, nullptr, nullptr);
    EXPECT_EQ(1, dialog.microphoneBox()->count());
    EXPECT_TRUE(dialog.closeWith(true));
  }
  EXPECT_EQ(u"", CWaveHost::inputDeviceName());
  EXPECT_EQ(u"Line Out Speakers", CWaveHost::outputDeviceName());
  if (before) ::setenv("PULSE_SERVER", saved.c_str(), 1);
  else ::unsetenv("PULSE_SERVER");
}

TEST_F(FrontEndTest, AccessListDeletesTheSelectedRowsAfterOneQuestion) {
  CSettings& settings = CSettings::Instance();
  settings.addDevice(u"uid-a", u"Ann", 1);
  settings.addDevice(u"uid-b", u"Bob", 0);
  settings.addDevice(u"uid-c", u"Cid", 1);
  AccessListDialog dialog(nullptr);
  QTreeWidget* list = dialog.list();
  ASSERT_EQ(3, list->topLevelItemCount());
  EXPECT_EQ(QStringLiteral("Deny"), list->topLevelItem(1)->text(2));

  {
    // Nothing selected: nothing asked, nothing gone.
    BoxAnswerer answerer(QStringLiteral("Yes"));
    dialog.deleteSelected();
    EXPECT_TRUE(answerer.texts.empty());
    EXPECT_EQ(3u, settings.accessList().size());
  }
  {
    // "No" keeps them.
    list->topLevelItem(0)->setSelected(true);
    BoxAnswerer answerer(QStringLiteral("No"));
    dialog.deleteSelected();
    EXPECT_EQ(1u, answerer.texts.size());
    EXPECT_EQ(3u, settings.accessList().size());
  }
  list->topLevelItem(2)->setSelected(true);
  BoxAnswerer answerer(QStringLiteral("Yes"));
  dialog.deleteSelected();
  EXPECT_EQ(1u, answerer.texts.size());
  ASSERT_EQ(1u, settings.accessList().size());
  EXPECT_EQ(1u, settings.accessList().count(u"uid-b"));
  EXPECT_EQ(1, list->topLevelItemCount());
  // Stored at once: a fresh load sees the same list.
  ASSERT_TRUE(settings.load());
  EXPECT_EQ(1u, settings.accessList().size());
}

TEST_F(FrontEndTest, FirstRunTipAsksAgainOnlyWithoutTheTick) {
  for (bool ticked : {false, true}) {
    for (int result : {QDialog::Accepted, QDialog::Rejected}) {
      int told = 0;
      bool again = !ticked;
      FirstRunTip tip([&](bool showAgain) {
        ++told;
        again = showAgain;
      }, nullptr);
      tip.dontShowBox()->setChecked(ticked);
      tip.done(result);
      EXPECT_EQ(1, told);
      EXPECT_EQ(!ticked, again);
    }
  }
}

TEST_F(FrontEndTest, PreviewShowsTheNewestPictureAndDropsWhatItCannotShow) {
  PreviewWidget preview(nullptr);
  preview.resize(640, 480);
  preview.setLive(true);
  preview.OnVideoFrame(nullptr, component::makeTestCard(320, 240));
  // Two frames before the loop runs: only the newer one is shown.
  preview.OnVideoFrame(nullptr, component::makeTestCard(480, 360));
  QCoreApplication::processEvents();
  EXPECT_EQ(QStringLiteral("480x360"), preview.sizeText());
  EXPECT_EQ(QSize(480, 360), preview.picture().size());

  component::VideoFrame cut = component::makeTestCard(160, 120);
  cut.data.resize(cut.data.size() / 2);
  preview.OnVideoFrame(nullptr, cut);
  component::VideoFrame other = component::makeTestCard(160, 120);
  other.pixel_format = 0;
  preview.OnVideoFrame(nullptr, other);
  QCoreApplication::processEvents();
  EXPECT_EQ(QStringLiteral("480x360"), preview.sizeText());

  // A frame on its way when the phone goes, or one decoded just after, is
  // not shown on the splash.
  preview.OnVideoFrame(nullptr, component::makeTestCard(160, 120));
  preview.setLive(false);
  preview.OnVideoFrame(nullptr, component::makeTestCard(160, 120));
  QCoreApplication::processEvents();
  EXPECT_TRUE(preview.picture().isNull());
  EXPECT_EQ(QString(), preview.sizeText());
}

TEST_F(FrontEndTest, DarkWhenTheDesktopSaysSo) {
  EXPECT_TRUE(desktopPrefersDark(QStringLiteral("Adwaita:dark"), 240));
  EXPECT_FALSE(desktopPrefersDark(QStringLiteral("Adwaita:light"), 30));
  EXPECT_TRUE(desktopPrefersDark(QString(), 30));
  EXPECT_FALSE(desktopPrefersDark(QString(), 240));
}

}  // namespace
