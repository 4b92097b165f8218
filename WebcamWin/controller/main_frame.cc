#include "WebcamWin/controller/main_frame.h"

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/platform/platform_camera.h"
#include "WebcamWin/platform/program_resource.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/settings/settings.h"

#include <chrono>

#include "base/file_util.h"
#include "base/logging.h"
#include "base/message_loop.h"
#include "components/component_message.h"

namespace {

constexpr uint32_t kMaxPort = 65535;
constexpr int kQuitCode = 1;
constexpr char16_t kServiceDomain[] = u"local";
constexpr char16_t kServiceType[] = u"_lumora_webcam._tcp";

// User-interface thread only.
base::string16 g_deviceModel;
base::string16 g_deviceSoftware;

}  // namespace

CMainFrame::CMainFrame()
    : clock_([] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
      }) {}

CMainFrame::~CMainFrame() {
  // A window still there is destroyed the usual way first.
  if (window_) window_->destroy();
  services_.reset();
  if (window_ && video_) window_->unwatchVideo(video_.get());
  window_.reset();
  bonjour_.reset();
  if (transport_) transport_->removeObserver(this);
  // The components go before the gate, and all of them before the
  // transport they are registered with. The sound device link's threads
  // call the audio component: the link goes first.
  audioDriver_.reset();
  // A recording still running is finished before its sources go.
  timers_.reset();
  if (recorder_) {
    recorder_->stop();
    if (audio_) audio_->RemoveObserver(recorder_.get());
    if (video_) video_->RemoveObserver(recorder_.get());
  }
  recorder_.reset();
  audio_.reset();
  if (video_) {
    if (window_) window_->unwatchVideo(video_.get());
    video_->RemoveObserver(this);
    if (snapshot_) video_->RemoveObserver(snapshot_.get());
    if (videoDriver_) video_->RemoveObserver(videoDriver_.get());
    if (platformCamera_) video_->RemoveObserver(platformCamera_.get());
  }
  platformCamera_.reset();
  videoDriver_.reset();
  snapshot_.reset();
  video_.reset();
  shutterSound_.reset();
  if (action_) action_->RemoveObserver(this);
  action_.reset();
  if (auth_) auth_->RemoveObserver(this);
  auth_.reset();
  gate_.reset();
  transport_.reset();
}

bool CMainFrame::createWindow(const base::string16& title) { return createWindow(FrameWindow::make(this), title); }

bool CMainFrame::createWindow(std::unique_ptr<FrameWindow> window, const base::string16& title) {
  window_ = std::move(window);
  if (!window_ || !window_->create(title)) {
    window_.reset();
    return false;
  }
  return true;
}

bool CMainFrame::onCreate() {
  LOG(INFO) << "Initializing main window...";
  announceStart();

  LOG(INFO) << "Initializing transport...";
  transport_ = std::make_unique<transport::Transport>();
  transport_->setApplicationId(kApplicationId);
  transport_->setVersion(kProgramVersion);

  LOG(INFO) << "Initializing components...";
  // The gate hears of connections before the components do, so a new phone
  // always starts behind a closed gate.
  gate_ = std::make_unique<component::SessionGate>(transport_.get());
  video_ = std::make_unique<component::VideoComponent>(transport_.get(), component::kVideoComponentId, gate_.get());
  video_->AddObserver(this);
  if (window_) window_->watchVideo(video_.get());
  video_->SetMirrorImage(CSettings::Instance().mirrorImage());
  audio_ = std::make_unique<component::AudioComponent>(transport_.get(), component::kAudioComponentId, gate_.get());
  auth_ = std::make_unique<component::AuthComponent>(transport_.get(), component::kAuthComponentId);
  auth_->AddObserver(this);
  action_ = std::make_unique<component::ActionComponent>(transport_.get(), component::kActionComponentId,
                                                         gate_.get());
  action_->AddObserver(this);
  snapshot_ = std::make_unique<component::Snapshot>();
  video_->AddObserver(snapshot_.get());
  videoDriver_ = std::make_unique<component::VideoDriver>();
  video_->AddObserver(videoDriver_.get());
  platformCamera_ = makePlatformCamera();
  if (platformCamera_) video_->AddObserver(platformCamera_.get());
  recorder_ = std::make_unique<component::FFVideoFile>();
  video_->AddObserver(recorder_.get());
  audio_->AddObserver(recorder_.get());
  shutterSound_ = std::make_unique<component::ShutterSound>(loadProgramResource(u"sound_camera_capture.wav"));
  audioDriver_ = std::make_unique<component::WDMAudioDriver>();
  audioDriver_->setDelegate(audio_.get());
  // Linux: the sink and source PC programs use appear now, not only when a
  // phone comes.
  audioDriver_->Prepare();

  transport_->addObserver(this);
  uint32_t port = CSettings::Instance().port();
  if (port > kMaxPort) {
    LOG(WARNING) << "The Port setting " << port
                 << " is not a TCP port; the system picks the port instead";
    port = 0;
  }
  if (window_) window_->showStatus(u"Not listening");
  transport_->startListening(static_cast<uint16_t>(port));

  // The update check with its timer, then the wave service client.
  services_ = std::make_unique<ShellServices>(window_.get());
  services_->start();
  return true;
}

void CMainFrame::onClose(uintptr_t param) {
  LOG(INFO) << "WM_CLOSE message. wParam: " << param;
  const uint32_t question = param == kCloseWithoutQuestion ? 0 : closingQuestion();
  if (question != 0 && window_) {
    window_->show(kShowNormal);
    window_->bringToFront();
    bool dontAskAgain = false;
    if (window_->askBeforeQuitting(loadString(question), &dontAskAgain) != kIdOk) return;
    rememberQuitAnswer(question, dontAskAgain, &CSettings::Instance());
  }
  if (services_) services_->onClosing();
  if (window_) window_->destroy();
}

uint32_t CMainFrame::closingQuestion() const {
  return closingQuestionFor(recording(), transport_ && transport_->clientBearer(), CSettings::Instance());
}

uint32_t CMainFrame::closingQuestionFor(bool recording, bool connected, const CSettings& settings) {
  if (recording && settings.promptOnExitIfRecording()) return kIdsQuitWhileRecording;
  if (connected && settings.promptOnExitIfConnected()) return kIdsQuitWhileConnected;
  if (settings.promptOnExit()) return kIdsQuit;
  return 0;
}

void CMainFrame::rememberQuitAnswer(uint32_t question, bool dontAskAgain, CSettings* settings) {
  // The box's state is what the user wants from now on, ticked or not.
  switch (question) {
    case kIdsQuitWhileRecording:
      settings->setPromptOnExitIfRecording(!dontAskAgain);
      break;
    case kIdsQuitWhileConnected:
      settings->setPromptOnExitIfConnected(!dontAskAgain);
      break;
    case kIdsQuit:
      settings->setPromptOnExit(!dontAskAgain);
      break;
    default:
      break;
  }
}

void CMainFrame::onDestroy() {
  LOG(INFO) << "WM_DESTROY message";
  decisionDeferred_ = false;
  closePrompt();
  if (transport_) {
    transport_->disconnectClient();
    transport_->stopListening();
  }
  // The farewell forgot the phone without a disconnection report.
  if (gate_) gate_->close();
  streaming_ = false;
  setCameraPhoneAccepted(false);
  stopRecording();
  stopAudioLink();
  if (services_) services_->onDestroy();
  if (base::MessageLoop* loop = base::MessageLoop::current()) loop->quit(kQuitCode);
}

void CMainFrame::onTransportDidStartListening(transport::Transport* transport) {
  const std::string where = transport->localAddress() + ":" + std::to_string(transport->localPort());
  LOG(INFO) << "Listen on " << where;
  if (window_) window_->showStatus(base::utf8ToWide("Listen on " + where));
  // The phone finds the PC by the port actually used; the DNS-SD service
  // names the instance after the computer.
  bonjour_ = std::make_unique<BonjourService>(kServiceDomain, kServiceType, base::string16(),
                                              transport->localPort());
  bonjour_->setDelegate(this);
  bonjour_->publish();
}

void CMainFrame::onTransportDidStopListening(transport::Transport* transport) {
  if (bonjour_) bonjour_->stop();
  if (window_) window_->showStatus(u"Not listening");
}

void CMainFrame::onClientDidConnect(transport::Transport* transport) {
  const std::string peer = transport->clientAddress() + ":" + std::to_string(transport->clientPort());
  LOG(INFO) << "Did connect to " << peer;
  promptedThisConnection_ = false;
  decisionDeferred_ = false;
  g_deviceModel = base::utf8ToWide(transport->deviceModel());
  g_deviceSoftware = base::utf8ToWide(transport->systemName() + " v" + transport->systemVersion());
  if (window_) {
    window_->showStatus(u"Connected: " + g_deviceModel + u" (" + g_deviceSoftware + u") at " +
                        base::utf8ToWide(peer));
  }
}

void CMainFrame::onClientDidDisconnect(transport::Transport* transport) {
  LOG(INFO) << "Transport disconnected";
  decisionDeferred_ = false;
  promptedThisConnection_ = false;
  if (timers_) timers_->killTimer(kPromptTimer);
  streaming_ = false;
  setCameraPhoneAccepted(false);
  // A prompt still open for this phone ends without a result.
  closePrompt();
  if (window_) {
    window_->showStatus(listeningStatus());
    window_->showPhoneDisconnected(base::utf8ToWide(lastDeviceName_));
  }
  announceDisconnected();
  stopRecording();
  stopAudioLink();
  if (services_) services_->onConnectionLost();
}

void CMainFrame::stopAudioLink() {
  if (!audioDriver_) return;
  audioDriver_->Stop();
  audioDriver_->Close();
}

base::string16 CMainFrame::listeningStatus() const {
  if (!transport_) return u"Not listening";
  return base::utf8ToWide("Listen on " + transport_->localAddress() + ":" +
                          std::to_string(transport_->localPort()));
}

void CMainFrame::OnAuthDataReceived(component::AuthComponent* component,
                                    const component::AuthComponent::Record& record) {
  LOG(INFO) << "Did receive auth data";
  LOG(INFO) << "Name: " << record.name;
  LOG(INFO) << "UID: " << record.uniqueId;
  // Whoever the phone says it is now has not been decided on yet.
  holdSession();
  const int64_t sinceLastPrompt = clock_() - lastPromptAtMs_;
  if (promptedThisConnection_ && sinceLastPrompt < kPromptIntervalMs) {
    LOG(INFO) << "Authorization data again within " << kPromptIntervalMs << " ms; decided when the interval ends";
    closePrompt();
    deferredRecord_ = record;
    if (!decisionDeferred_) timers()->setTimer(kPromptTimer, static_cast<uint32_t>(kPromptIntervalMs - sinceLastPrompt));
    decisionDeferred_ = true;
    if (transport_) transport_->setClientStanding(transport::Transport::ClientStanding::kDeciding);
    return;
  }
  decide(record);
}

void CMainFrame::runDeferredDecision() {
  if (!decisionDeferred_) return;
  decisionDeferred_ = false;
  decide(deferredRecord_);
}

void CMainFrame::holdSession() {
  if (gate_) gate_->close();
  if (streaming_) {
    streaming_ = false;
    setCameraPhoneAccepted(false);
    stopAudioLink();
  }
}

void CMainFrame::decide(const component::AuthComponent::Record& record) {
  using Standing = transport::Transport::ClientStanding;
  lastDeviceName_ = record.name;
  // New data restarts the decision: a prompt still open goes first.
  closePrompt();
  uint32_t status = 0;
  if (CSettings::Instance().findDevice(base::utf8ToWide(record.uniqueId), &status)) {
    // Listed: allowed for good, or (status 0) left without an answer.
    if (status != 0) {
      if (auth_) auth_->Accept();
      afterAccepted();
    } else if (transport_) {
      transport_->setClientStanding(Standing::kRefused);
    }
    return;
  }
  promptOpen_ = true;
  promptRecord_ = record;
  ++promptId_;
  promptedThisConnection_ = true;
  lastPromptAtMs_ = clock_();
  if (transport_) transport_->setClientStanding(Standing::kDeciding);
  if (window_) {
    window_->show(kShowNormal);
    window_->showAuthorizationPrompt(base::utf8ToWide(record.name), base::utf8ToWide(record.uniqueId));
  }
}

bool CMainFrame::answerAuthorization(AuthAnswer answer, uint64_t promptId) {
  if (!promptOpen_) return false;
  if (promptId != kAnyPrompt && promptId != promptId_.load()) {
    LOG(WARNING) << "An answer meant for an earlier prompt was dropped";
    return false;
  }
  if (answer == AuthAnswer::kAllowAlways) {
    CSettings& settings = CSettings::Instance();
    settings.addDevice(base::utf8ToWide(promptRecord_.uniqueId), base::utf8ToWide(promptRecord_.name), 1);
    if (!settings.save()) LOG(ERROR) << "The access list could not be saved";
  }
  closePrompt();
  onAuthorizationResult(answer == AuthAnswer::kDeny ? kAuthResultDeny : kAuthResultAllow);
  return true;
}

void CMainFrame::onAuthorizationResult(int code) {
  if (code == kAuthResultIgnore) return;
  if (code == kAuthResultAllow) {
    if (auth_) auth_->Accept();
    afterAccepted();
  } else if (auth_) {
    auth_->Reject();
  }
}

void CMainFrame::closePrompt() {
  if (!promptOpen_) return;
  promptOpen_ = false;
  if (window_) window_->closeAuthorizationPrompt();
}

void CMainFrame::afterAccepted() {
  if (window_) {
    window_->showStatus(u"Connected: " + base::utf8ToWide(lastDeviceName_) + u" (" + g_deviceModel + u", " +
                        g_deviceSoftware + u")");
    window_->showPhoneConnected(base::utf8ToWide(lastDeviceName_));
  }
  announceConnected();
}

void CMainFrame::OnAccepted(component::AuthComponent* component) {
  LOG(INFO) << "Connection was accepted.";
  if (transport_) transport_->setClientStanding(transport::Transport::ClientStanding::kAccepted);
  gate_->open();
  streaming_ = true;
  setCameraPhoneAccepted(true);
  if (services_) services_->onAccepted();
  if (audioDriver_) {
    audioDriver_->Open();
    audioDriver_->Start();
  }
}

void CMainFrame::OnRejected(component::AuthComponent* component) {
  LOG(INFO) << "Connection was rejected.";
  if (transport_) transport_->setClientStanding(transport::Transport::ClientStanding::kRefused);
  gate_->close();
  streaming_ = false;
  setCameraPhoneAccepted(false);
}

void CMainFrame::setCameraPhoneAccepted(bool accepted) {
  if (platformCamera_) platformCamera_->SetPhoneAccepted(accepted);
}

void CMainFrame::OnActionReceived(component::ActionComponent* component, int32_t action) {
  switch (action) {
    case component::ActionComponent::kActionStartRecording:
      startRecording();
      break;
    case component::ActionComponent::kActionStopRecording:
      stopRecording();
      break;
    case component::ActionComponent::kActionSnapshot:
      makeSnapshot();
      break;
    default:
      break;
  }
}

void CMainFrame::checkForUpdatesNow() {
  if (services_) services_->checkForUpdatesNow();
}

bool CMainFrame::openSupport() { return services_ && services_->openSupport(); }

void CMainFrame::startRecording() {
  if (window_) window_->showRecording(true);
  if (!recorder_ || recorder_->recording()) return;
  const base::string16 folder = CSettings::Instance().moviesFolder();
  // A folder that is not there yet (the first recording, or one the user
  // removed) is made, parents included.
  if (!base::isDirectory(folder) && !base::createDirectories(folder)) {
    LOG(ERROR) << "Could not create the movies folder " << base::wideToUtf8(folder);
  }
  // Names go by the second: a second recording within the same second
  // gets a number instead of overwriting the first.
  const component::LocalTime now = component::currentLocalTime();
  base::string16 path = base::joinPath(folder, component::mediaFileName(u"Video", u"", u"avi", now));
  for (int n = 2; base::pathExists(path) && n < 1000; ++n) {
    path = base::joinPath(folder, component::mediaFileName(u"Video", base::utf8ToWide(std::to_string(n)), u"avi", now));
  }
  if (!recorder_->start(path, lastFrameWidth_, lastFrameHeight_)) {
    // The window already shows a recording; it must not show one that
    // does not exist.
    if (window_) window_->showRecording(false);
    return;
  }
  timers()->setTimer(kRecordingTimer, kRecordingTimePeriodMs);
  if (action_) action_->SendAction(component::ActionComponent::kActionStartRecording);
}

void CMainFrame::stopRecording() {
  if (window_) window_->showRecording(false);
  if (timers_) timers_->killTimer(kRecordingTimer);
  if (!recorder_ || !recorder_->recording()) return;
  recorder_->stop();
  if (action_) action_->SendAction(component::ActionComponent::kActionStopRecording);
}

bool CMainFrame::recording() const { return recorder_ && recorder_->recording(); }

uint32_t CMainFrame::recordingTime() {
  constexpr int64_t kuint32max = 0xFFFFFFFFll;
  const int64_t recordingTime = recorder_ ? recorder_->elapsedUs() / 1000 : 0;
  CHECK(recordingTime <= kuint32max);
  // Only the low 32 bits travel.
  const uint32_t time = static_cast<uint32_t>(recordingTime);
  if (action_) action_->SendRecordingTime(time);
  if (window_) window_->showRecordingTime(time);
  return time;
}

base::MessageWindow* CMainFrame::timers() {
  if (!timers_) {
    timers_ = std::make_unique<base::MessageWindow>(u"com.quillonlabs.recording_time",
                                                    static_cast<base::MessageWindow::Handler*>(this));
  }
  return timers_.get();
}

void CMainFrame::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (msg == base::kMsgTimer && wparam == kPromptTimer) {
    timers_->killTimer(kPromptTimer);
    runDeferredDecision();
    return;
  }
  if (msg != base::kMsgTimer || wparam != kRecordingTimer) return;
  if (!recording()) {
    timers_->killTimer(kRecordingTimer);
    return;
  }
  // The file could not be written any more (a full disk): the recording
  // ends here as if the user had stopped it.
  if (recorder_->writeFailed()) {
    stopRecording();
    return;
  }
  recordingTime();
}

void CMainFrame::makeSnapshot() {
  const base::string16 name = component::mediaFileName(u"Image", u"", u"jpg", component::currentLocalTime());
  const base::string16 path = base::joinPath(CSettings::Instance().picturesFolder(), name);
  if (snapshot_) snapshot_->Save(path);
  // The phone hears of every snapshot, taken from the PC or asked by it.
  if (action_) action_->SendAction(component::ActionComponent::kActionSnapshot);
  if (shutterSound_) shutterSound_->play();
}

void CMainFrame::OnVideoFrame(component::VideoComponent* component, const component::VideoFrame& frame) {
  lastFrameWidth_ = frame.pictureWidth();
  lastFrameHeight_ = frame.pictureHeight();
  ++frameCount_;
}

void CMainFrame::applyVideoSettings() {
  if (video_) video_->SetMirrorImage(CSettings::Instance().mirrorImage());
}

base::string16 CMainFrame::deviceModel() { return g_deviceModel; }

base::string16 CMainFrame::deviceSoftware() { return g_deviceSoftware; }
