// CMainFrame: the main window of `server` and the application controller.
// When its window is created it builds the connection machinery (the
// transport, the session gate and the session components) and starts
// listening on the `Port` setting; it reacts to the transport's events, to
// the phone's authorization data and actions, to the user's answers and
// commands and to the window's close and destroy messages, and owns
// everything it built. The native window (FrameWindow) is the Win32 frame
// window on Windows and the console front end on Linux; all logic is here,
// once.
//
// Thread: the user-interface thread, which also runs the transport.
#ifndef WEBCAMWIN_MAIN_FRAME_H_
#define WEBCAMWIN_MAIN_FRAME_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WebcamWin/controller/frame_window.h"
#include "WebcamWin/suite/shell_services.h"
#include "base/bonjour_service.h"
#include "base/string_util.h"
#include "components/action_component.h"
#include "components/audio/audio_component.h"
#include "components/audio/wdm_audio_driver.h"
#include "components/auth_component.h"
#include "components/recorder/ff_video_file.h"
#include "components/session_gate.h"
#include "components/video/camera_sink.h"
#include "components/video/shutter_sound.h"
#include "components/media_file_name.h"
#include "components/video/snapshot.h"
#include "components/video/video_component.h"
#include "components/video/video_driver.h"
#include "transport/transport.h"

class CSettings;

class CMainFrame : private base::MessageWindow::Handler,
                   public transport::Transport::Observer,
                   public component::AuthComponent::Observer,
                   public component::ActionComponent::Observer,
                   public BonjourService::Delegate,
                   public component::VideoComponent::Observer {
 public:
  // The user's answers to the authorization prompt (the dialog's buttons
  // 1403, 1404 and 1405; the console's keys; `server -allow` and friends).
  enum class AuthAnswer { kAllowAlways, kAllowOnce, kDeny };
  // The prompt's result codes.
  static constexpr int kAuthResultAllow = 1;
  static constexpr int kAuthResultDeny = 2;
  static constexpr int kAuthResultIgnore = 5;

  CMainFrame();
  ~CMainFrame() override;
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  // Makes the native window and creates it with `title`. False when the
  // window could not be created.
  bool createWindow(const base::string16& title);
  // The same with a front end made by the caller (tests).
  bool createWindow(std::unique_ptr<FrameWindow> window, const base::string16& title);
  FrameWindow* window() const { return window_.get(); }

  // The window's messages, as the native window receives them.
  // WM_CREATE: false makes the creation fail.
  bool onCreate();
  // WM_CLOSE with its first parameter: kCloseWithoutQuestion closes at
  // once; otherwise at most one question is asked (recording, then a
  // connected phone, then any quit, as the settings ask), and the window is
  // destroyed only when the user agrees.
  void onClose(uintptr_t param);
  // The question onClose() would ask now (0: none).
  uint32_t closingQuestion() const;
  // The first question that applies: a recording runs, a phone is
  // connected, any quit; each only while its setting asks for it.
  static uint32_t closingQuestionFor(bool recording, bool connected, const CSettings& settings);
  // After a yes to `question`: its own setting (and no other) follows the
  // don't-ask-again box.
  static void rememberQuitAnswer(uint32_t question, bool dontAskAgain, CSettings* settings);
  static constexpr uint32_t kIdsQuitWhileConnected = 50017;
  static constexpr uint32_t kIdsQuitWhileRecording = 50018;
  static constexpr uint32_t kIdsQuit = 50032;
  // WM_DESTROY: says farewell, stops listening and ends the message loop
  // with 1.
  void onDestroy();

  // The authorization prompt. answerAuthorization() answers the open prompt
  // ("allow always" also lists the phone and saves the settings at once)
  // and closes it; false when no phone is waiting for an answer. An answer
  // given to the prompt numbered `promptId` is dropped when another prompt
  // has replaced it since (kAnyPrompt: whatever prompt is open).
  static constexpr uint64_t kAnyPrompt = 0;
  bool answerAuthorization(AuthAnswer answer, uint64_t promptId = kAnyPrompt);
  // The number of the prompt shown last; any thread may read it (the front
  // ends note it when an answer starts on its way).
  uint64_t promptId() const { return promptId_.load(); }
  // A phone that sends authorization data again and again is asked about at
  // most once this often; data in between waits for the interval's end.
  static constexpr int64_t kPromptIntervalMs = 3000;
  static constexpr uintptr_t kPromptTimer = 4;
  // The monotonic clock (ms) of that interval; tests substitute their own.
  void setClockForTesting(std::function<int64_t()> nowMs) { clock_ = std::move(nowMs); }
  // A decision that waits for the interval to end (the prompt timer).
  bool decisionDeferred() const { return decisionDeferred_; }
  void runDeferredDecision();
  // The prompt ended with `code` (1 accepts, 5 is ignored, anything else
  // rejects).
  void onAuthorizationResult(int code);
  bool authorizationPending() const { return promptOpen_; }

  // The capture commands, from the user or from the phone's actions.
  void startRecording();
  void stopRecording();
  void makeSnapshot();
  // Whether the recorder is recording.
  bool recording() const;
  // While recording, every kRecordingTimePeriodMs: the recorder's elapsed
  // time goes to the phone and to the window. Returns the milliseconds.
  uint32_t recordingTime();
  static constexpr uintptr_t kRecordingTimer = 3;
  static constexpr uint32_t kRecordingTimePeriodMs = 100;
  component::FFVideoFile* recorder() const { return recorder_.get(); }

  // The About box's "Check for updates" (message 0xBC3) and "Support".
  void checkForUpdatesNow();
  bool openSupport();

  // Transport::Observer
  uint32_t messageType() const override { return 0; }
  void onTransportDidStartListening(transport::Transport* transport) override;
  void onTransportDidStopListening(transport::Transport* transport) override;
  void onClientDidConnect(transport::Transport* transport) override;
  void onClientDidDisconnect(transport::Transport* transport) override;

  // AuthComponent::Observer
  void OnAuthDataReceived(component::AuthComponent* component,
                          const component::AuthComponent::Record& record) override;
  void OnAccepted(component::AuthComponent* component) override;
  void OnRejected(component::AuthComponent* component) override;

  // ActionComponent::Observer
  void OnActionReceived(component::ActionComponent* component, int32_t action) override;

  // The DNS-SD publication of the listening port; null before listening
  // ever started.
  BonjourService* bonjourService() const { return bonjour_.get(); }
  // VideoComponent::Observer: remembers the frame size (the recording size).
  void OnVideoFrame(component::VideoComponent* component, const component::VideoFrame& frame) override;
  // Only the size is needed, not the pixels.
  void WantedPictureSize(int32_t, int32_t, int32_t* wantedWidth, int32_t* wantedHeight) override {
    *wantedWidth = *wantedHeight = 0;
  }

  transport::Transport* transport() const { return transport_.get(); }
  component::SessionGate* sessionGate() const { return gate_.get(); }
  component::VideoComponent* videoComponent() const { return video_.get(); }
  component::Snapshot* snapshot() const { return snapshot_.get(); }
  component::CameraSink* platformCamera() const { return platformCamera_.get(); }
  // The size of the last video frame (0 x 0 before the first).
  int32_t lastFrameWidth() const { return lastFrameWidth_; }
  int32_t lastFrameHeight() const { return lastFrameHeight_; }
  // Frames received since the start (the front end's frame rate).
  uint64_t frameCount() const { return frameCount_; }
  // The settings changed: hands MirrorImage to the video component.
  void applyVideoSettings();
  // Whether an accepted phone is streaming.
  bool streaming() const { return streaming_; }
  // The wave service client, the update check and the support hand-off.
  ShellServices* shellServices() const { return services_.get(); }

  // The last phone's model and its "system v version", kept after it left
  // (the error report sends them).
  static base::string16 deviceModel();
  static base::string16 deviceSoftware();

  // The user's commands from the main view's buttons. Each is logged as its
  // "UI event: " line and then carried out.
  enum class UiEvent {
    kOpenAbout,
    kMinimizeWindow,
    kCloseWindow,
    kOpenSettings,
    kOpenEffects,
    kMakeSnapshot,
    kStartVideoRecording,
    kStopVideoRecording,
    kOpenSnapshotFolder,
    kOpenVideoFolder,
  };
  void onUiEvent(UiEvent event);
  static const char* uiEventLine(UiEvent event);
  // The notification-area menu's commands (and the same numbers as window
  // commands): show, hide, online help, About, quit.
  static constexpr uint32_t kCmdShow = 20001;
  static constexpr uint32_t kCmdOnlineHelp = 20004;
  static constexpr uint32_t kCmdAbout = 20005;
  static constexpr uint32_t kCmdExit = 20006;
  static constexpr uint32_t kCmdHide = 20007;
  // False for a number that is not one of them.
  bool onMenuCommand(uint32_t id);
  // The window was hidden (WM_SHOWWINDOW with FALSE): the first time in a
  // run, a balloon says the program goes on running.
  void onWindowHidden();
  // Whether the first-run tip opens with the main view, and its answer
  // (`showAgain`: the box "don't show again" was not ticked).
  bool firstRunTipWanted() const;
  void onFirstRunTipClosed(bool showAgain);
  // The settings dialog closed with OK with `port` typed: a changed port is
  // stored and, when it is a fixed port other than the one in use, the
  // transport listens there instead; then the settings are saved and the
  // mirror goes to the video component.
  void applySettingsDialog(uint32_t port);
  // The settings dialog stored the sound devices the bridge uses: the wave
  // service is told to reload them.
  void applyAudioDevices();
  // Removes the phones `uids` from the access list (each is asked about
  // again at its next connection), logs each and saves the list. Returns
  // how many were listed.
  static size_t removeFromAccessList(const std::vector<base::string16>& uids);
  // Creates `folder` with any missing parents and opens it in the desktop.
  static bool openFolder(const base::string16& folder);
  bool balloonOfHidingShown() const { return hiddenBalloonShown_; }
  // Tests: a stand-in for the native window.
  void setWindowForTesting(std::unique_ptr<FrameWindow> window) { window_ = std::move(window); }

 private:
  // What follows an acceptance, from the list or from the user: the
  // connected icon, the balloon and the view.
  void afterAccepted();
  void closePrompt();
  // The list's answer, or the prompt; the transport learns how the phone
  // stands.
  void decide(const component::AuthComponent::Record& record);
  // Nothing flows until the phone is accepted (again).
  void holdSession();
  base::MessageWindow* timers();
  base::string16 listeningStatus() const;

  std::unique_ptr<FrameWindow> window_;
  std::unique_ptr<transport::Transport> transport_;
  // Made after the transport and before the components, destroyed in
  // reverse.
  std::unique_ptr<component::SessionGate> gate_;
  std::unique_ptr<component::AuthComponent> auth_;
  std::unique_ptr<component::ActionComponent> action_;
  // Made anew each time listening starts.
  std::unique_ptr<BonjourService> bonjour_;
  std::unique_ptr<component::VideoComponent> video_;
  // The video sinks, observers of video_.
  std::unique_ptr<component::Snapshot> snapshot_;
  std::unique_ptr<component::VideoDriver> videoDriver_;
  std::unique_ptr<component::ShutterSound> shutterSound_;
  // Linux: the camera other programs open (null where there is none).
  std::unique_ptr<component::CameraSink> platformCamera_;
  void setCameraPhoneAccepted(bool accepted);
  int32_t lastFrameWidth_ = 0;
  int32_t lastFrameHeight_ = 0;
  uint64_t frameCount_ = 0;
  std::unique_ptr<component::AudioComponent> audio_;
  // The sound device link; its delegate is the audio component. Running
  // while an accepted phone is connected.
  std::unique_ptr<component::WDMAudioDriver> audioDriver_;
  void stopAudioLink();
  // The recorder, observer of video_ and audio_, and the hidden window whose
  // timers ask it for the recording time and run a deferred decision.
  std::unique_ptr<component::FFVideoFile> recorder_;
  std::unique_ptr<base::MessageWindow> timers_;
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;

  // The phone the open prompt asks about.
  bool promptOpen_ = false;
  component::AuthComponent::Record promptRecord_;
  std::atomic<uint64_t> promptId_{0};
  // When this connection's last prompt was raised (none: a long time ago).
  int64_t lastPromptAtMs_ = 0;
  bool promptedThisConnection_ = false;
  bool decisionDeferred_ = false;
  component::AuthComponent::Record deferredRecord_;
  std::function<int64_t()> clock_;
  // The name from the last authorization data (the disconnection balloon).
  std::string lastDeviceName_;
  bool streaming_ = false;
  std::unique_ptr<ShellServices> services_;

  // The front end's side of the events above: the tray icon, the balloons
  // (when the user wants them) and the settings sequence.
  void announceStart();
  void announceConnected();
  void announceDisconnected();
  void openSettings();
  bool hiddenBalloonShown_ = false;
};

#endif  // WEBCAMWIN_MAIN_FRAME_H_
