#include "WebcamWin/suite/shell_services.h"

#include "WebcamWin/controller/frame_window.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/platform/desktop.h"
#include "base/logging.h"

namespace {

// Where the new version is offered (the address string 50033 names).
constexpr char16_t kDownloadPage[] = u"https://www.quillonlabs.example/zuviridar/download/";

base::string16 versionText(uintptr_t encoded) {
  const uint32_t value = static_cast<uint32_t>(encoded);
  return base::asciiToWide(base::stringPrintf("%u.%u.%u", value / 1000000, value / 1000 % 1000, value % 1000));
}

}  // namespace

ShellServices::ShellServices(FrameWindow* window)
    : frame_(window), window_(std::make_unique<base::MessageWindow>(kWindowClass, static_cast<base::MessageWindow::Handler*>(this))) {}

ShellServices::~ShellServices() = default;

void ShellServices::start() {
  update_.check(window_.get(), /*userAsked=*/false);
  window_->setTimer(kUpdateTimer, kUpdatePeriodMs);
  if (!wave_.open() && wave_.notInstalled()) LOG(INFO) << "'Lumora Wave Service' doesn't exists";
}

void ShellServices::onAccepted() {
  if (!wave_.opened()) return;
  // The service may start (or restart) while the phone is here; the ticks
  // then pause it, so the timer runs even when it does not run now.
  bridgePaused_ = wave_.isRunning() && wave_.pause();
  keepingAlive_ = window_->setTimer(kKeepAliveTimer, kKeepAlivePeriodMs);
}

void ShellServices::onConnectionLost() { letBridgeRun(); }

void ShellServices::onClosing() { window_->killTimer(kUpdateTimer); }

void ShellServices::onDestroy() {
  window_->killTimer(kUpdateTimer);
  letBridgeRun();
}

void ShellServices::letBridgeRun() {
  // Stopped even when the service is gone by now: nothing is left to ping.
  window_->killTimer(kKeepAliveTimer);
  keepingAlive_ = false;
  bridgePaused_ = false;
  if (wave_.opened() && wave_.isRunning()) wave_.resume();
}

void ShellServices::keepAlive() {
  if (!wave_.isRunning()) {
    if (bridgePaused_) LOG(INFO) << "Service is not running";
    bridgePaused_ = false;
    return;
  }
  if (!bridgePaused_) {
    // It came (back) up during the call and has started its bridge.
    bridgePaused_ = wave_.pause();
    return;
  }
  wave_.ping();
}

bool ShellServices::reloadWaveDevices() {
  CWaveHost service;
  return service.open() && service.openDevice();
}

void ShellServices::checkForUpdatesNow() { update_.check(window_.get(), /*userAsked=*/true); }

bool ShellServices::openSupport() {
  if (support_.running()) {
    LOG(INFO) << "The support tool is still being served";
    return false;
  }
  return support_.start(defaultSupportProgram(), utf16LeBytes(supportHandOffText(currentSupportFacts())),
                        [](int32_t result) {
                          LOGF(INFO, "Support hand-off ended with %#x", static_cast<unsigned>(result));
                        });
}

void ShellServices::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t) {
  switch (msg) {
    case base::kMsgTimer:
      if (wparam == kUpdateTimer) update_.check(window_.get(), /*userAsked=*/false);
      else if (wparam == kKeepAliveTimer) keepAlive();
      return;
    case CCheckForUpdate::kMsgUpdateResult:
      showUpdateResult(wparam);
      return;
    case CCheckForUpdate::kMsgUpdateFailed:
      messageBox(loadString(kIdsUpdateFailed), kMbOk | kMbIconError);
      return;
    case CCheckForUpdate::kMsgCheckNow:
      checkForUpdatesNow();
      return;
  }
}

void ShellServices::showUpdateResult(uintptr_t encodedVersion) {
  if (encodedVersion == 0) {
    messageBox(loadString(kIdsUpToDate), kMbOk | kMbIconInformation);
    return;
  }
  base::string16 text = loadString(kIdsNewVersion);
  const size_t at = text.find(u"%s");
  if (at != base::string16::npos) text.replace(at, 2, versionText(encodedVersion));
  LOG(INFO) << "Version " << versionText(encodedVersion) << " is available";
  if (messageBox(text, kMbYesNo | kMbIconInformation) == kIdYes) shell::openWithShell(kDownloadPage);
}

int ShellServices::messageBox(const base::string16& text, uint32_t type) {
  if (!frame_) return kIdNo;
  return frame_->messageBox(text, type);
}
