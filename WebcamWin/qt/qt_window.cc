#include "WebcamWin/qt/qt_window.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdlib>
#include <string>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/controller/ui_rules.h"
#include "WebcamWin/platform/instance.h"
#include "WebcamWin/qt/artwork_qt.h"
#include "WebcamWin/qt/desktop_theme_qt.h"
#include "WebcamWin/qt/dialogs_qt.h"
#include "WebcamWin/qt/main_widget.h"
#include "WebcamWin/qt/preview_widget.h"
#include "WebcamWin/qt/texts_qt.h"
#include "base/logging.h"

namespace {

// The tray menu's entries (the Windows menu 20000).
constexpr uint32_t kIdsMenuShow = 50120;
constexpr uint32_t kIdsMenuHide = 50121;
constexpr uint32_t kIdsMenuHelp = 50122;
constexpr uint32_t kIdsMenuAbout = 50123;
constexpr uint32_t kIdsMenuExit = 50124;
constexpr int kBalloonTimeoutMs = 10000;

// Qt ends the program when it cannot reach the display, so the X server is
// asked first, through the library Qt's own X support loads anyway.
bool xDisplayReachable() {
  void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!xcb) return false;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
  auto hasError = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
  bool ok = false;
  if (connect && hasError && disconnect) {
    void* connection = connect(nullptr, nullptr);
    ok = connection && hasError(connection) == 0;
    if (connection) disconnect(connection);
  }
  ::dlclose(xcb);
  return ok;
}

bool waylandReachable() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!display || !*display) return false;
  std::string path = display;
  if (path[0] != '/') path = std::string(runtime ? runtime : "") + "/" + path;
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

CMainFrame::AuthAnswer answerOf(uintptr_t code) {
  switch (code) {
    case 0: return CMainFrame::AuthAnswer::kAllowAlways;
    case 1: return CMainFrame::AuthAnswer::kAllowOnce;
    default: return CMainFrame::AuthAnswer::kDeny;
  }
}

uintptr_t codeOf(CMainFrame::AuthAnswer answer) {
  switch (answer) {
    case CMainFrame::AuthAnswer::kAllowAlways: return 0;
    case CMainFrame::AuthAnswer::kAllowOnce: return 1;
    case CMainFrame::AuthAnswer::kDeny: return 2;
  }
  return 2;
}

}  // namespace

// The pictures built into the program (server_artwork.qrc).
static void registerArtwork() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  Q_INIT_RESOURCE(server_artwork);
}

bool QtWindow::start(const char* programName) {
  registerArtwork();
  if (QApplication::instance()) return true;
  // Qt's platforms without a display server (tests) need no probe.
  const std::string chosen = std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
  if (chosen != "offscreen" && chosen != "minimal") {
    const bool x = xDisplayReachable();
    if (!x && !waylandReachable()) {
      LOG(WARNING) << "No display can be reached; the console is used";
      return false;
    }
    if (chosen.empty()) ::setenv("QT_QPA_PLATFORM", x ? "xcb" : "wayland;xcb", 1);
  }
  // Lives as long as the program: Qt's objects may outlive the window.
  static std::string name = programName ? programName : "server";
  static int argc = 1;
  static char* argv[] = {name.data(), nullptr};
  auto* application = new QApplication(argc, argv);
  QApplication::setApplicationName(toQt(kProductName));
  QGuiApplication::setDesktopFileName(toQt(kInstanceName));
  QApplication::setWindowIcon(productIcon());
  // The program quits through its own closing sequence, never because a
  // dialog was the last window.
  QApplication::setQuitOnLastWindowClosed(false);
  applyDesktopTheme(application);
  return true;
}

QtWindow::QtWindow(CMainFrame* frame) : MessageFrameWindow(frame) {}

QtWindow::~QtWindow() {
  if (base::MessageLoop* loop = base::MessageLoop::current()) loop->setForeignPump({}, 0);
  delete prompt_.data();
  if (tray_) tray_->hide();
  tray_.reset();
  trayMenu_.reset();
  main_.reset();
}

PreviewWidget* QtWindow::preview() const { return main_ ? main_->preview() : nullptr; }

AuthorizationPrompt* QtWindow::prompt() const { return prompt_.data(); }

bool QtWindow::create(const base::string16& title) {
  if (created_ || !QApplication::instance()) return false;
  if (base::MessageLoop* loop = base::MessageLoop::current()) {
    loop->setForeignPump(
        [] {
          QCoreApplication::processEvents();
          QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        },
        kPumpPeriodMs);
  }
  main_ = std::make_unique<MainWidget>([this](CMainFrame::UiEvent event) { frame_->onUiEvent(event); },
                                       [this] { onCloseButton(); },
                                       [this] {
                                         if (created_) frame_->onWindowHidden();
                                       });
  main_->setWindowTitle(toQt(title));
  created_ = true;
  if (!frame_->onCreate()) {
    created_ = false;
    main_.reset();
    return false;
  }
  if (frame_->firstRunTipWanted()) window_->post(kMsgFirstRunTip);
  return true;
}

void QtWindow::centre() {
  if (!main_) return;
  QScreen* screen = main_->screen() ? main_->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect area = main_->frameGeometry();
  area.moveCenter(screen->availableGeometry().center());
  main_->move(area.topLeft());
}

void QtWindow::show(int showCommand) {
  if (!main_ || !created_) return;
  switch (showCommand) {
    case kShowHide:
      main_->hide();
      break;
    case kShowMinimize:
      main_->showMinimized();
      break;
    default:
      main_->showNormal();
      break;
  }
}

void QtWindow::bringToFront() {
  if (!main_ || !created_) return;
  main_->raise();
  main_->activateWindow();
}

bool QtWindow::visible() const { return main_ && main_->isVisible(); }

void QtWindow::destroy() {
  if (!created_) return;
  created_ = false;
  // Hidden, not deleted: a dialog may still be on the stack below us.
  if (question_) question_->close();
  if (prompt_) prompt_->hide();
  if (tray_) tray_->hide();
  main_->hide();
  frame_->onDestroy();
}

void QtWindow::showStatus(const base::string16& text) {
  if (main_) main_->preview()->setStatus(toQt(text));
}

void QtWindow::showAuthorizationPrompt(const base::string16& name, const base::string16& uid) {
  closeAuthorizationPrompt();
  // The answer is handled after the button's own event has returned: it
  // closes (and deletes) the prompt.
  // The answer belongs to this prompt: one that replaced it in between
  // is not answered by it.
  const uint64_t promptId = frame_->promptId();
  prompt_ = new AuthorizationPrompt(name, uid, [this, promptId](CMainFrame::AuthAnswer answer) {
    window_->post(kMsgPromptAnswer, codeOf(answer), static_cast<intptr_t>(promptId));
  });
  prompt_->present();
  LOG(INFO) << "Waiting for the user's answer about the phone. Answer in the prompt, or with "
               "'server -allow', 'server -allow-once' or 'server -deny'";
}

void QtWindow::closeAuthorizationPrompt() {
  if (!prompt_) return;
  prompt_->hide();
  delete prompt_.data();
}

int QtWindow::messageBox(const base::string16& text, uint32_t type) {
  return showMessageBox(main_ && main_->isVisible() ? main_.get() : nullptr, text, type);
}

void QtWindow::showPhoneConnected(const base::string16&) {
  connected_ = true;
  if (main_) main_->setConnected(true);
}

void QtWindow::showPhoneDisconnected(const base::string16&) {
  connected_ = false;
  if (main_) main_->setConnected(false);
}

void QtWindow::showRecording(bool recording) {
  if (main_) main_->setRecording(recording);
}

void QtWindow::showRecordingTime(uint32_t elapsedMs) {
  if (main_) main_->preview()->setRecordingTime(elapsedMs);
}

int QtWindow::askBeforeQuitting(const base::string16& text, bool* dontAskAgain) {
  *dontAskAgain = false;
  if (question_) return kIdNo;  // one question at a time
  QuitQuestion question(text, main_ && main_->isVisible() ? main_.get() : nullptr);
  question_ = &question;
  const int result = runModal(&question);
  question_ = nullptr;
  *dontAskAgain = question.dontAskAgain();
  return result == QDialog::Accepted ? kIdOk : kIdNo;
}

void QtWindow::addTrayIcon(const base::string16& tooltip) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    LOG(INFO) << "The desktop shows no tray; closing the window quits";
    return;
  }
  tray_ = std::make_unique<QSystemTrayIcon>(QIcon(artwork(QStringLiteral("server_disconnected.png"))));
  tray_->setToolTip(toQt(tooltip.substr(0, 127)));
  trayMenu_ = std::make_unique<QMenu>();
  QObject::connect(trayMenu_.get(), &QMenu::aboutToShow, trayMenu_.get(), [this] { fillTrayMenu(); });
  fillTrayMenu();
  tray_->setContextMenu(trayMenu_.get());
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                       frame_->onMenuCommand(CMainFrame::kCmdShow);
                   });
  tray_->show();
}

void QtWindow::fillTrayMenu() {
  // Show or hide, whichever is not the window's state.
  trayMenu_->clear();
  const uint32_t removed = trayMenuEntryToRemove(visible());
  struct Entry {
    uint32_t command, caption;
  };
  const Entry entries[] = {{CMainFrame::kCmdShow, kIdsMenuShow}, {CMainFrame::kCmdHide, kIdsMenuHide},
                           {0, 0},
                           {CMainFrame::kCmdOnlineHelp, kIdsMenuHelp}, {CMainFrame::kCmdAbout, kIdsMenuAbout},
                           {0, 0},
                           {CMainFrame::kCmdExit, kIdsMenuExit}};
  for (const Entry& entry : entries) {
    if (entry.command == removed) continue;
    if (entry.command == 0) {
      trayMenu_->addSeparator();
      continue;
    }
    const uint32_t command = entry.command;
    trayMenu_->addAction(uiText(entry.caption), trayMenu_.get(), [this, command] {
      // After the menu has closed: the command may open a dialog.
      QTimer::singleShot(0, trayMenu_.get(), [this, command] { frame_->onMenuCommand(command); });
    });
  }
}

void QtWindow::setTrayIconConnected(bool connected) {
  if (!tray_) return;
  tray_->setIcon(QIcon(artwork(connected ? QStringLiteral("server_connected.png")
                                         : QStringLiteral("server_disconnected.png"))));
}

void QtWindow::showBalloon(const base::string16& title, const base::string16& text) {
  notify(toQt(title.substr(0, 63)), toQt(text.substr(0, 255)).trimmed());
}

void QtWindow::notify(const QString& title, const QString& text) {
  lastBalloon_ = fromQt(title + QStringLiteral("\n") + text);
  if (tray_ && tray_->isVisible()) {
    tray_->showMessage(title, text, productIcon(), kBalloonTimeoutMs);
    return;
  }
  // Without a tray the desktop's notification service shows it.
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  call << toQt(kProductName) << 0u << toQt(kInstanceName) << title << text << QStringList() << QVariantMap()
       << kBalloonTimeoutMs;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.send(call)) LOG(INFO) << "No desktop notifications here: " << title.toStdString();
}

void QtWindow::watchVideo(component::VideoComponent* video) {
  if (main_) video->AddObserver(main_->preview());
}

void QtWindow::unwatchVideo(component::VideoComponent* video) {
  if (main_) video->RemoveObserver(main_->preview());
}

void QtWindow::showAbout() {
  if (aboutOpen_ || !main_) return;
  aboutOpen_ = true;
  AboutDialog about(frame_, main_->isVisible() ? main_.get() : nullptr);
  runModal(&about);
  aboutOpen_ = false;
}

bool QtWindow::showSettings(SettingsDialogState* state) {
  if (!main_) return false;
  SettingsDialog settings(state, frame_, main_->isVisible() ? main_.get() : nullptr);
  return runModal(&settings) == QDialog::Accepted;
}

void QtWindow::showFirstRunTip() {
  FirstRunTip tip([this](bool showAgain) { frame_->onFirstRunTipClosed(showAgain); },
                  main_ && main_->isVisible() ? main_.get() : nullptr);
  runModal(&tip);
}

void QtWindow::onCloseButton() {
  // With a tray the program goes on there; without one closing quits,
  // after the closing question.
  if (tray_ && tray_->isVisible()) frame_->onUiEvent(CMainFrame::UiEvent::kCloseWindow);
  else frame_->onClose(0);
}

void QtWindow::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (!created_) {
    if (msg == kMsgAnswer) answers_.answerWaiting(frame_);  // nobody waits long
    return;
  }
  switch (msg) {
    case kMsgClose:
      // Asked to close while the question is open: that is the answer.
      if (question_) {
        if (auto* dialog = qobject_cast<QDialog*>(question_.data())) dialog->accept();
      } else {
        frame_->onClose(wparam);
      }
      break;
    case kMsgShow:
      frame_->onMenuCommand(CMainFrame::kCmdShow);
      break;
    case kMsgAnswer:
      answers_.answerWaiting(frame_);
      break;
    case kMsgPromptAnswer:
      frame_->answerAuthorization(answerOf(wparam), static_cast<uint64_t>(lparam));
      break;
    case kMsgFirstRunTip:
      showFirstRunTip();
      break;
    default:
      break;
  }
}
