// Pictures of the desktop window and its dialogs, light and dark, for
// people to look at: `qt_screenshots <folder>` writes one PNG each, drawn
// offscreen with the program's own widgets, texts and artwork.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/qt/desktop_theme_qt.h"
#include "WebcamWin/qt/dialogs_qt.h"
#include "WebcamWin/qt/main_widget.h"
#include "WebcamWin/qt/preview_widget.h"
#include "WebcamWin/qt/qt_window.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/settings/settings_dialog.h"
#include "base/file_util.h"
#include "base/reg_key.h"
#include "components/video/test_card.h"

namespace {

bool save(QWidget* widget, const QString& folder, const QString& name) {
  widget->show();
  QCoreApplication::processEvents();
  const bool ok = widget->grab().save(folder + "/" + name + ".png");
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(folder + "/" + name + ".png"));
  widget->hide();
  return ok;
}

bool shootAll(const QString& folder) {
  bool ok = true;
  MainWidget idle([](CMainFrame::UiEvent) {}, [] {}, [] {});
  idle.preview()->setStatus(QStringLiteral("Listen on 0.0.0.0:53417"));
  ok &= save(&idle, folder, "main_waiting");

  MainWidget live([](CMainFrame::UiEvent) {}, [] {}, [] {});
  live.setConnected(true);
  live.show();
  live.preview()->OnVideoFrame(nullptr, component::makeTestCard(1280, 720));
  live.setRecording(true);
  live.preview()->setRecordingTime(754000);
  ok &= save(&live, folder, "main_recording");

  AuthorizationPrompt prompt(u"Anna's iPhone", u"6F1C2A3B-94D0-4E5B-9A7C-2F8E1D3B4A60", {});
  ok &= save(&prompt, folder, "new_device");

  SettingsDialogState state;
  state.portInUse = u"53417";
  state.pcName = u"Lumora-PC";
  SettingsDialog settings(&state, nullptr, nullptr);
  const char* pages[] = {"settings_general", "settings_network", "settings_folders", "settings_audio",
                         "settings_camera"};
  for (int page = 0; page < 5; ++page) {
    settings.pages()->setCurrentIndex(page);
    ok &= save(&settings, folder, pages[page]);
  }
  AccessListDialog list(nullptr);
  ok &= save(&list, folder, "access_list");
  AboutDialog about(nullptr, nullptr);
  ok &= save(&about, folder, "about");
  FirstRunTip tip({}, nullptr);
  ok &= save(&tip, folder, "first_run_tip");
  QuitQuestion question(loadString(50017), nullptr);
  ok &= save(&question, folder, "quit_question");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qt_screenshots <folder> [light|dark]\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const bool dark = argc > 2 && std::string(argv[2]) == "dark";
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (dark) ::setenv("GTK_THEME", "Adwaita:dark", 1);
  // A private registry, so the pictures show a plain first start.
  base::beginRegistryOverrideForTesting();
  CSettings& settings = CSettings::Instance();
  settings.load();
  settings.addDevice(u"6F1C2A3B-94D0-4E5B-9A7C-2F8E1D3B4A60", u"Anna's iPhone", 1);
  settings.addDevice(u"0B7E6C21-5D3A-4F10-8C2E-7A9B1D4E3F22", u"Old iPad", 0);
  ResourceLibrary library;
  if (!library.load(base::joinPath(base::executableDirectory(), u"lang.so"))) {
    std::fprintf(stderr, "no lang.so beside the program\n");
    return 1;
  }
  ResourceLibrary::setCurrent(&library);
  if (!QtWindow::start(argv[0])) return 1;
  QDir().mkpath(folder);
  const bool ok = shootAll(folder);
  base::endRegistryOverrideForTesting();
  return ok ? 0 : 1;
}
