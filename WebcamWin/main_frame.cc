#include "WebcamWin/main_frame.h"

#include "WebcamWin/app_info.h"
#include "WebcamWin/settings.h"
#include "base/logging.h"
#include "base/message_loop.h"

namespace {

constexpr uint32_t kMaxPort = 65535;
constexpr int kQuitCode = 1;

// User-interface thread only.
base::string16 g_deviceModel;
base::string16 g_deviceSoftware;

}  // namespace

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() {
  // A window still there is destroyed the usual way first.
  if (window_) window_->destroy();
  window_.reset();
  if (transport_) transport_->removeObserver(this);
  transport_.reset();
}

bool CMainFrame::createWindow(const base::string16& title) {
  window_ = FrameWindow::make(this);
  if (!window_ || !window_->create(title)) {
    window_.reset();
    return false;
  }
  return true;
}

bool CMainFrame::onCreate() {
  LOG(INFO) << "Initializing main window...";

  LOG(INFO) << "Initializing transport...";
  transport_ = std::make_unique<transport::Transport>();
  transport_->setApplicationId(kApplicationId);
  transport_->setVersion(kProgramVersion);

  transport_->addObserver(this);
  uint32_t port = CSettings::Instance().port();
  if (port > kMaxPort) {
    LOG(WARNING) << "The Port setting " << port
                 << " is not a TCP port; the system picks the port instead";
    port = 0;
  }
  if (window_) window_->showStatus(u"Not listening");
  transport_->startListening(static_cast<uint16_t>(port));
  return true;
}

void CMainFrame::onClose(uintptr_t param) {
  LOG(INFO) << "WM_CLOSE message. wParam: " << param;
  // The questions before quitting come with the dialogs; until then every
  // close message closes.
  if (window_) window_->destroy();
}

void CMainFrame::onDestroy() {
  LOG(INFO) << "WM_DESTROY message";
  if (transport_) {
    transport_->disconnectClient();
    transport_->stopListening();
  }
  if (base::MessageLoop* loop = base::MessageLoop::current()) loop->quit(kQuitCode);
}

void CMainFrame::onTransportDidStartListening(transport::Transport* transport) {
  const std::string where = transport->localAddress() + ":" + std::to_string(transport->localPort());
  LOG(INFO) << "Listen on " << where;
  if (window_) window_->showStatus(base::utf8ToWide("Listen on " + where));
}

void CMainFrame::onTransportDidStopListening(transport::Transport* transport) {
  if (window_) window_->showStatus(u"Not listening");
}

void CMainFrame::onClientDidConnect(transport::Transport* transport) {
  const std::string peer = transport->clientAddress() + ":" + std::to_string(transport->clientPort());
  LOG(INFO) << "Did connect to " << peer;
  g_deviceModel = base::utf8ToWide(transport->deviceModel());
  g_deviceSoftware = base::utf8ToWide(transport->systemName() + " v" + transport->systemVersion());
  if (window_) {
    window_->showStatus(u"Connected: " + g_deviceModel + u" (" + g_deviceSoftware + u") at " +
                        base::utf8ToWide(peer));
  }
}

void CMainFrame::onClientDidDisconnect(transport::Transport* transport) {
  LOG(INFO) << "Transport disconnected";
  if (window_) {
    window_->showStatus(base::utf8ToWide("Listen on " + transport->localAddress() + ":" +
                                         std::to_string(transport->localPort())));
  }
}

base::string16 CMainFrame::deviceModel() { return g_deviceModel; }

base::string16 CMainFrame::deviceSoftware() { return g_deviceSoftware; }
