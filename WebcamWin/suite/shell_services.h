// The links that tie `server` to the rest of the suite and to its maker:
// the audio bridge service is paused while a phone is accepted and kept
// paused by a ping every 500 ms (timer 2); the update check runs at start
// and every 60 s under its 12-hour rule (timer 1), or at once when the
// user asks; "Support" hands the product facts to the support tool.
//
// The controller (CMainFrame) owns one ShellServices and calls it at its
// moments (window created, phone accepted, connection lost, window
// destroyed). The timers and the update check's results (WM_USER + 100 and
// + 101, and 0xBC3 for a check on request) arrive on a hidden window of the
// interface thread.
//
// Thread: the user-interface thread.
#ifndef WEBCAMWIN_SHELL_SERVICES_H_
#define WEBCAMWIN_SHELL_SERVICES_H_

#include <cstdint>
#include <memory>

#include "WebcamWin/suite/check_for_update.h"
#include "WebcamWin/suite/support_handoff.h"
#include "WebcamWin/suite/wavehost.h"
#include "base/message_loop.h"

class FrameWindow;

class ShellServices : private base::MessageWindow::Handler {
 public:
  static constexpr uintptr_t kUpdateTimer = 1;
  static constexpr uint32_t kUpdatePeriodMs = 60000;
  static constexpr uintptr_t kKeepAliveTimer = 2;
  static constexpr uint32_t kKeepAlivePeriodMs = 500;
  static constexpr const char16_t* kWindowClass = u"com.quillonlabs.shell_services";

  // Texts of the update check's answers (string resources).
  static constexpr uint32_t kIdsNewVersion = 50033;
  static constexpr uint32_t kIdsUpdateFailed = 50036;
  static constexpr uint32_t kIdsUpToDate = 50037;

  // `window` shows the message boxes; not owned, may be null.
  explicit ShellServices(FrameWindow* window);
  ~ShellServices() override;
  ShellServices(const ShellServices&) = delete;
  ShellServices& operator=(const ShellServices&) = delete;

  // The window was created: the automatic update check and timer 1, then
  // the wave service client.
  void start();
  // The phone was accepted: the bridge is paused and kept paused.
  void onAccepted();
  // The phone is gone: the bridge may run again.
  void onConnectionLost();
  // The user agreed to quit: the update timer stops.
  void onClosing();
  // The window goes away: the bridge may run again, the timers stop.
  void onDestroy();

  // New device names were stored (the settings dialog's OK): the service is
  // told to read them again (code 203) through a client opened for this one
  // request, so that a service installed or started since start() hears it
  // too. False (logged) when the service is missing, stopped or refused.
  bool reloadWaveDevices();

  // "Check for updates" (the About box; message 0xBC3).
  void checkForUpdatesNow();
  // "Support" (the About box): the hand-off on a worker thread. False when
  // the tool of an earlier press is still being served.
  bool openSupport();

  CWaveHost& waveService() { return wave_; }
  CCheckForUpdate& updateCheck() { return update_; }
  CSupportHandOff& supportHandOff() { return support_; }
  // Where the update results and timers arrive (for posting 0xBC3).
  base::MessageWindow* messageWindow() { return window_.get(); }
  bool keepingAlive() const { return keepingAlive_; }

 private:
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  void keepAlive();
  void letBridgeRun();
  void showUpdateResult(uintptr_t encodedVersion);
  int messageBox(const base::string16& text, uint32_t type);

  FrameWindow* frame_;
  std::unique_ptr<base::MessageWindow> window_;
  CWaveHost wave_;
  bool keepingAlive_ = false;
  // Whether the service was running (and so paused) at the last tick.
  bool bridgePaused_ = false;
  CSupportHandOff support_;
  CCheckForUpdate update_;  // posts to window_; ends before it
};

#endif  // WEBCAMWIN_SHELL_SERVICES_H_
