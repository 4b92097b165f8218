// CMainFrame's answers to the user: the main view's commands, the
// notification-area menu, the balloons and the settings sequence. Shared by
// both builds; the front end (FrameWindow) only shows and asks.
#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/main_frame.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/settings/settings_dialog.h"
#include "WebcamWin/platform/desktop.h"
#include "WebcamWin/controller/ui_rules.h"
#include "base/file_util.h"
#include "base/logging.h"

namespace {

constexpr uint32_t kIdsOnlineHelp = 50010;
constexpr uint32_t kIdsConnectedBalloon = 50027;
constexpr uint32_t kIdsDisconnectedBalloon = 50028;
constexpr uint32_t kIdsRunningBalloon = 50029;
constexpr uint32_t kIdsStillRunningTitle = 50030;
constexpr uint32_t kIdsStillRunningText = 50031;
constexpr uint32_t kMaxPort = 65535;

}  // namespace

const char* CMainFrame::uiEventLine(UiEvent event) {
  switch (event) {
    case UiEvent::kOpenAbout: return "UI event: Open About";
    case UiEvent::kMinimizeWindow: return "UI event: Minimize window";
    case UiEvent::kCloseWindow: return "UI event: Close window";
    case UiEvent::kOpenSettings: return "UI event: Open settings";
    case UiEvent::kOpenEffects: return "UI event: Open effects";
    case UiEvent::kMakeSnapshot: return "UI event: Make snapshot";
    case UiEvent::kStartVideoRecording: return "UI event: Start video recording";
    case UiEvent::kStopVideoRecording: return "UI event: Stop video recording";
    case UiEvent::kOpenSnapshotFolder: return "UI event: Open Snapshot Folder";
    case UiEvent::kOpenVideoFolder: return "UI event: Open Video Folder";
  }
  return "UI event: ?";
}

void CMainFrame::onUiEvent(UiEvent event) {
  LOG(INFO) << uiEventLine(event);
  switch (event) {
    case UiEvent::kOpenAbout:
      if (window_) window_->showAbout();
      break;
    case UiEvent::kMinimizeWindow:
      if (window_) window_->show(kShowMinimize);
      break;
    case UiEvent::kCloseWindow:
      // The close button only hides: the program goes on in the
      // notification area, and quitting is the menu's business.
      if (window_) window_->show(kShowHide);
      break;
    case UiEvent::kOpenSettings:
      openSettings();
      break;
    case UiEvent::kOpenEffects:
      break;
    case UiEvent::kMakeSnapshot:
      makeSnapshot();
      break;
    case UiEvent::kStartVideoRecording:
      startRecording();
      break;
    case UiEvent::kStopVideoRecording:
      stopRecording();
      break;
    case UiEvent::kOpenSnapshotFolder:
      openFolder(CSettings::Instance().picturesFolder());
      break;
    case UiEvent::kOpenVideoFolder:
      openFolder(CSettings::Instance().moviesFolder());
      break;
  }
}

bool CMainFrame::openFolder(const base::string16& folder) {
  if (folder.empty()) return false;
  if (!base::createDirectories(folder)) {
    LOG(ERROR) << "Can't create the folder " << folder;
    return false;
  }
  return shell::openWithShell(folder);
}

bool CMainFrame::onMenuCommand(uint32_t id) {
  switch (id) {
    case kCmdShow:
      if (window_) {
        window_->show(kShowNormal);
        window_->bringToFront();
      }
      return true;
    case kCmdHide:
      if (window_) window_->show(kShowHide);
      return true;
    case kCmdOnlineHelp:
      shell::openWithShell(loadString(kIdsOnlineHelp));
      return true;
    case kCmdAbout:
      if (window_) window_->showAbout();
      return true;
    case kCmdExit:
      // The normal closing sequence, with its question.
      if (window_) window_->postClose(0);
      return true;
    default:
      return false;
  }
}

void CMainFrame::onWindowHidden() {
  if (hiddenBalloonShown_ || !CSettings::Instance().showNotifications() || !window_) return;
  window_->showBalloon(loadString(kIdsStillRunningTitle), loadString(kIdsStillRunningText));
  hiddenBalloonShown_ = true;
}

bool CMainFrame::firstRunTipWanted() const { return CSettings::Instance().firstRunTipShow(); }

void CMainFrame::onFirstRunTipClosed(bool showAgain) {
  CSettings& settings = CSettings::Instance();
  settings.setFirstRunTipShow(showAgain);
  if (!settings.save()) LOG(ERROR) << "The settings could not be saved after the first-run tip";
}

void CMainFrame::announceStart() {
  if (!window_) return;
  window_->addTrayIcon(kProductName);
  // The balloon's text is blank on purpose: its title says it all.
  if (CSettings::Instance().showNotifications()) window_->showBalloon(loadString(kIdsRunningBalloon), u"    ");
}

void CMainFrame::announceConnected() {
  if (!window_) return;
  window_->setTrayIconConnected(true);
  if (CSettings::Instance().showNotifications()) {
    window_->showBalloon(kProductName,
                         withArgument(loadString(kIdsConnectedBalloon), base::utf8ToWide(lastDeviceName_)));
  }
}

void CMainFrame::announceDisconnected() {
  if (!window_) return;
  window_->setTrayIconConnected(false);
  if (CSettings::Instance().showNotifications()) {
    window_->showBalloon(kProductName,
                         withArgument(loadString(kIdsDisconnectedBalloon), base::utf8ToWide(lastDeviceName_)));
  }
}

void CMainFrame::openSettings() {
  if (!window_ || !transport_) return;
  SettingsDialogState state;
  state.port = CSettings::Instance().port();
  const uint16_t inUse = transport_->localPort();
  if (state.port == 0 && inUse != 0) state.portInUse = base::utf8ToWide(std::to_string(inUse));
  state.pcName = bonjour_ ? bonjour_->name() : base::string16(kNotRegistered);
  if (!window_->showSettings(&state)) return;
  applySettingsDialog(state.port);
}

void CMainFrame::applySettingsDialog(uint32_t port) {
  CSettings& settings = CSettings::Instance();
  const uint32_t old = settings.port();
  if (port > kMaxPort) port = 0;
  if (port != old) {
    LOG(INFO) << "Port was changed. From " << old << " to " << port;
    settings.setPort(port);
    // Port 0 keeps the port in use until the next start: the phone found
    // this one already.
    if (transport_ && port != 0 && port != transport_->localPort()) {
      transport_->stopListening();
      transport_->startListening(static_cast<uint16_t>(port));
    }
  }
  if (!settings.save()) LOG(ERROR) << "The settings could not be saved";
  applyVideoSettings();
}

void CMainFrame::applyAudioDevices() {
  // A service installed or started after this program is reached too.
  if (services_) services_->reloadWaveDevices();
}

size_t CMainFrame::removeFromAccessList(const std::vector<base::string16>& uids) {
  CSettings& settings = CSettings::Instance();
  size_t removed = 0;
  for (const base::string16& uid : uids) {
    const auto entry = settings.accessList().find(uid);
    if (entry == settings.accessList().end()) continue;
    LOG(INFO) << "Removed " << entry->second.name << " (" << uid << ") from the access list";
    settings.removeDevice(uid);
    ++removed;
  }
  if (removed != 0 && !settings.save()) LOG(ERROR) << "The access list could not be saved";
  return removed;
}
