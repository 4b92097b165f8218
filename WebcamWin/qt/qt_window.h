// The desktop front end of `server` on Linux (Qt Widgets): the main window
// with the live preview and the buttons, the tray icon with its menu and the
// notifications, the "New device" prompt and the dialogs. It implements the
// same view interface as the Win32 window and the console; what the buttons
// and answers mean stays with the controller. Qt's events are served from
// the program's own message loop, so sockets, timers and the window share
// one thread as on Windows.
//
// Thread: the user-interface thread, except postClose, postShow and
// answerFromAnotherStart (any thread).
#ifndef WEBCAMWIN_QT_QT_WINDOW_H_
#define WEBCAMWIN_QT_QT_WINDOW_H_

#include <QPointer>

#include <memory>

#include "WebcamWin/controller/message_frame_window.h"
#include "base/message_loop.h"

class QApplication;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QWidget;
class ArtworkButton;
class AuthorizationPrompt;
class MainWidget;
class PreviewWidget;

class QtWindow : public MessageFrameWindow {
 public:
  // The hidden window's own messages, besides close, show and answer.
  static constexpr uint32_t kMsgPromptAnswer = base::kMsgUser + 6;
  static constexpr uint32_t kMsgFirstRunTip = base::kMsgUser + 1000;
  // Qt's events wait at most this long while the loop waits for sockets.
  static constexpr uint32_t kPumpPeriodMs = 10;

  explicit QtWindow(CMainFrame* frame);
  ~QtWindow() override;

  // Whether Qt can open a window on this system (a display it can reach).
  // Makes the application object on success.
  static bool start(const char* programName);

  // FrameWindow
  bool create(const base::string16& title) override;
  void centre() override;
  void show(int showCommand) override;
  void bringToFront() override;
  bool visible() const override;
  void destroy() override;
  void showStatus(const base::string16& text) override;
  void showAuthorizationPrompt(const base::string16& name, const base::string16& uid) override;
  void closeAuthorizationPrompt() override;
  int messageBox(const base::string16& text, uint32_t type) override;
  void showPhoneConnected(const base::string16& name) override;
  void showPhoneDisconnected(const base::string16& name) override;
  void showRecording(bool recording) override;
  void showRecordingTime(uint32_t elapsedMs) override;
  int askBeforeQuitting(const base::string16& text, bool* dontAskAgain) override;
  void addTrayIcon(const base::string16& tooltip) override;
  void setTrayIconConnected(bool connected) override;
  void showBalloon(const base::string16& title, const base::string16& text) override;
  void watchVideo(component::VideoComponent* video) override;
  void unwatchVideo(component::VideoComponent* video) override;
  void showAbout() override;
  bool showSettings(SettingsDialogState* state) override;

  // Tests and screenshots.
  MainWidget* mainWidget() const { return main_.get(); }
  PreviewWidget* preview() const;
  AuthorizationPrompt* prompt() const;
  QSystemTrayIcon* trayIcon() const { return tray_.get(); }
  // The last notification shown (title, text).
  const base::string16& lastBalloonText() const { return lastBalloon_; }
  // The window's close button: to the tray when there is one, else quit.
  void onCloseButton();

 private:
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  void fillTrayMenu();
  void showFirstRunTip();
  void notify(const QString& title, const QString& text);

  std::unique_ptr<MainWidget> main_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QMenu> trayMenu_;
  QPointer<AuthorizationPrompt> prompt_;
  base::string16 lastBalloon_;
  bool created_ = false;
  bool aboutOpen_ = false;
  bool connected_ = false;
  // The quit question open in askBeforeQuitting().
  QPointer<QWidget> question_;
};

#endif  // WEBCAMWIN_QT_QT_WINDOW_H_
