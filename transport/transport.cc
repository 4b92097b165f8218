#include "transport/transport.h"

#include <algorithm>

#include "base/logging.h"
#include "base/steady_time.h"
#include "transport/handshake.h"
#include "transport/socket_data_bearer.h"

namespace transport {
namespace {

constexpr uint32_t kMsgCollectGarbage = base::kMsgUser;
constexpr uint16_t kNoClientPort = 65535;
constexpr uintptr_t kHandshakeCheckTimerId = 1;

std::string peerOf(const MessageBearer* bearer) {
  const DataBearer* data = bearer->dataBearer();
  if (!data) return "?";
  return data->peerAddress() + ":" + std::to_string(data->peerPort());
}

}  // namespace

Transport::Transport()
    : window_(std::make_unique<base::MessageWindow>(kWindowClass, static_cast<base::MessageWindow::Handler*>(this))),
      clock_(base::steadyNowMs) {}

Transport::~Transport() {
  // Sockets destroyed this way report nothing.
  client_ = nullptr;
  pending_.clear();
  bearers_.clear();
  listening_.reset();
  doomedBearers_.clear();
  doomedListeners_.clear();
  window_.reset();
}

bool Transport::startListening(uint16_t port) {
  LOG(INFO) << "Start listen on port " << port;
  if (listening_) {
    listening_->setDelegate(nullptr);
    listening_->stopListening();
    deleteSoon(std::move(listening_));
  }
  listening_ = std::make_unique<SocketDataBearer>();
  listening_->setDelegate(this);
  std::unique_ptr<Error> error;
  if (!listening_->listen(port, &error)) {
    LOG(ERROR) << "StartListen failed with error " << error.get();
    deleteSoon(std::move(listening_));
    return false;
  }
  return true;
}

void Transport::stopListening() {
  if (listening_) listening_->stopListening();
}

void Transport::disconnectClient() {
  if (!client_) return;
  MessageBearer* client = client_;
  client_ = nullptr;
  client->sendFarewell(kFarewellSessionEnded);
}

std::string Transport::clientAddress() const {
  if (!client_ || !client_->dataBearer()) return {};
  return client_->dataBearer()->peerAddress();
}

uint16_t Transport::clientPort() const {
  if (!client_ || !client_->dataBearer()) return kNoClientPort;
  return client_->dataBearer()->peerPort();
}

std::string Transport::localAddress() const { return listening_ ? listening_->localAddress() : std::string(); }

uint16_t Transport::localPort() const { return listening_ ? listening_->localPort() : 0; }

std::string Transport::clientString(const char* key) const {
  std::string value;
  if (!client_ || !client_->clientInformation() || !client_->clientInformation()->getString(key, &value))
    return {};
  return value;
}

std::string Transport::deviceModel() const { return clientString("DeviceModel"); }
std::string Transport::systemName() const { return clientString("SystemName"); }
std::string Transport::systemVersion() const { return clientString("SystemVersion"); }

void Transport::onBearerDidStartListening(DataBearer* bearer) {
  FOR_EACH_OBSERVER(Observer, observers_, onTransportDidStartListening(this));
}

void Transport::onBearerDidStopListening(DataBearer* bearer) {
  FOR_EACH_OBSERVER(Observer, observers_, onTransportDidStopListening(this));
}

void Transport::onBearerDidAcceptNewBearer(DataBearer* bearer, DataBearer* newBearer) {
  if (pending_.size() >= kMaxPendingConnections) {
    ++counters_.pendingEvictions;
    closePending(pending_.front().bearer, "too many connections are waiting for their handshake");
  }
  auto messageBearer = std::make_unique<MessageBearer>();
  messageBearer->setApplicationId(applicationId_);
  const VersionParts parts = parseVersionParts(version_);
  messageBearer->setVersion(parts[0], parts[1], parts[2], parts[3]);
  messageBearer->setDelegate(this);
  messageBearer->attach(newBearer);
  pending_.push_back({messageBearer.get(), clock_() + kHandshakeTimeoutMs});
  bearers_.push_back(std::move(messageBearer));
  startCheckTimer();
}

void Transport::startCheckTimer() {
  if (!checkTimerRunning_) checkTimerRunning_ = window_->setTimer(kHandshakeCheckTimerId, kHandshakeCheckIntervalMs);
}

void Transport::closeOverdueHandshakes() {
  const int64_t now = clock_();
  while (!pending_.empty() && pending_.front().deadlineMs <= now) {
    ++counters_.handshakeTimeouts;
    closePending(pending_.front().bearer, "no handshake within the time-out");
  }
  const bool identifying = client_ && standing_ == ClientStanding::kIdentifying;
  if (identifying && identifyDeadlineMs_ <= now) {
    ++counters_.identifyTimeouts;
    sendClientAway("no authorization data within the time-out");
  }
  const bool stillIdentifying = client_ && standing_ == ClientStanding::kIdentifying;
  if (pending_.empty() && !stillIdentifying && checkTimerRunning_) {
    window_->killTimer(kHandshakeCheckTimerId);
    checkTimerRunning_ = false;
  }
}

void Transport::closePending(MessageBearer* bearer, const char* reason) {
  forgetPending(bearer);
  LOG(WARNING) << "Connection from " << peerOf(bearer) << " closed: " << reason;
  auto it = std::find_if(bearers_.begin(), bearers_.end(),
                         [bearer](const std::unique_ptr<MessageBearer>& b) { return b.get() == bearer; });
  if (it == bearers_.end()) return;
  std::unique_ptr<MessageBearer> gone = std::move(*it);
  bearers_.erase(it);
  // Nobody hears of it: it never was a client.
  gone->setDelegate(nullptr);
  if (gone->dataBearer()) gone->dataBearer()->disconnect();
  deleteSoon(std::move(gone));
}

void Transport::forgetPending(MessageBearer* bearer) {
  auto it = std::find_if(pending_.begin(), pending_.end(), [bearer](const Pending& p) { return p.bearer == bearer; });
  if (it != pending_.end()) pending_.erase(it);
}

void Transport::setClientStanding(ClientStanding standing) {
  if (!client_) return;
  standing_ = standing;
}

void Transport::sendClientAway(const char* reason) {
  MessageBearer* client = client_;
  LOG(WARNING) << "Phone at " << peerOf(client) << " sent away: " << reason;
  client_ = nullptr;
  client->sendFarewell(kFarewellSessionEnded);
  FOR_EACH_OBSERVER(Observer, observers_, onClientDidDisconnect(this));
}

void Transport::onMessageBearerDidConnect(MessageBearer* bearer) {
  forgetPending(bearer);
  const bool clientHoldsSlot =
      client_ && (standing_ == ClientStanding::kAccepted || standing_ == ClientStanding::kDeciding);
  if (client_ && !clientHoldsSlot) {
    ++counters_.clientsDisplaced;
    sendClientAway("it was not accepted and another phone connected");
  }
  if (client_) {
    LOG(INFO) << "Another phone is connected already; saying farewell to the new one";
    bearer->sendFarewell(kFarewellAnotherPhoneConnected);
    return;
  }
  client_ = bearer;
  standing_ = ClientStanding::kIdentifying;
  identifyDeadlineMs_ = clock_() + kIdentifyTimeoutMs;
  startCheckTimer();
  FOR_EACH_OBSERVER(Observer, observers_, onClientDidConnect(this));
}

void Transport::onMessageBearerWillDisconnect(MessageBearer* bearer, const Error* error) {
  LOG(INFO) << "Message bearer will be disconnected. " << error;
}

void Transport::onMessageBearerDidDisconnect(MessageBearer* bearer) {
  LOG(INFO) << "Message bearer disconnected.";
  auto it = std::find_if(bearers_.begin(), bearers_.end(),
                         [bearer](const std::unique_ptr<MessageBearer>& b) { return b.get() == bearer; });
  if (it == bearers_.end()) return;
  forgetPending(bearer);
  std::unique_ptr<MessageBearer> gone = std::move(*it);
  bearers_.erase(it);
  deleteSoon(std::move(gone));
  if (client_ == bearer) {
    client_ = nullptr;
    FOR_EACH_OBSERVER(Observer, observers_, onClientDidDisconnect(this));
  }
}

void Transport::onMessageBearerDidReceiveMessage(MessageBearer* bearer, uint32_t type,
                                                 const std::vector<uint8_t>& payload) {
  if (bearer != client_) {
    LOG(INFO) << "Message of type " << type << " from a phone that is not the client dropped";
    return;
  }
  observers_.forEach([&](Observer* observer) {
    if (observer->messageType() == type) observer->onMessage(this, type, payload);
  });
}

void Transport::deleteSoon(std::unique_ptr<MessageBearer> bearer) {
  doomedBearers_.push_back(std::move(bearer));
  if (!cleanupPosted_) cleanupPosted_ = window_->post(kMsgCollectGarbage);
}

void Transport::deleteSoon(std::unique_ptr<SocketDataBearer> listener) {
  doomedListeners_.push_back(std::move(listener));
  if (!cleanupPosted_) cleanupPosted_ = window_->post(kMsgCollectGarbage);
}

void Transport::onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t) {
  if (msg == base::kMsgTimer && wparam == kHandshakeCheckTimerId) {
    closeOverdueHandshakes();
    return;
  }
  if (msg != kMsgCollectGarbage) return;
  cleanupPosted_ = false;
  std::vector<std::unique_ptr<MessageBearer>> bearers;
  std::vector<std::unique_ptr<SocketDataBearer>> listeners;
  bearers.swap(doomedBearers_);
  listeners.swap(doomedListeners_);
}

}  // namespace transport
