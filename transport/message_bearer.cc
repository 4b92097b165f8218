#include "transport/message_bearer.h"

#include <vector>

#include "base/logging.h"
#include "base/peer_text.h"
#include "base/steady_time.h"
#include "transport/byte_order.h"

namespace transport {
namespace {

// The phone describes itself in these strings; they are shown, logged and
// handed on, so they are cleaned here, once.
void cleanClientStrings(base::DictionaryValue* information) {
  std::vector<std::string> keys;
  for (const auto& entry : *information) keys.push_back(entry.first);
  for (const std::string& key : keys) {
    std::string value;
    if (!information->getString(key, &value)) continue;
    const std::string what = base::escapePeerText(key);
    const std::string clean = base::cleanPeerText(value, what.c_str());
    if (clean != value) information->setString(key, clean);
  }
}

}  // namespace

MessageBearer::MessageBearer() : clock_(base::steadyNowMs) {}

MessageBearer::~MessageBearer() = default;

void MessageBearer::attach(DataBearer* dataBearer) {
  decoder_ = std::make_unique<FrameDecoder>();
  decoder_->setFalseCandidateHandler(
      [this](const FalseCandidate& candidate) { return acceptFalseCandidate(candidate); });
  encoder_ = std::make_unique<FrameEncoder>();
  windowStartMs_ = clock_();
  windowBytes_ = 0;
  closeReason_ = nullptr;
  dataBearer_.reset(dataBearer);
  disconnected_ = false;
  if (dataBearer_) dataBearer_->setDelegate(this);
}

bool MessageBearer::sendMessage(uint32_t type, const std::vector<uint8_t>& payload) {
  return sendMessage(type, payload.data(), payload.size());
}

bool MessageBearer::sendMessage(uint32_t type, const uint8_t* payload, size_t size) {
  if (!dataBearer_ || !encoder_) {
    LOG(ERROR) << "Message of type " << type << " not sent: no connection";
    return false;
  }
  std::vector<uint8_t> frame;
  if (!encoder_->encode(type, payload, size, &frame)) {
    LOG(ERROR) << "Couldn't encode";
    if (encoder_->sequence() > 0) LOG(ERROR) << "Couldn't copy";
    return false;
  }
  return dataBearer_->write(std::move(frame), -1);
}

bool MessageBearer::sendHandshake() {
  std::vector<uint8_t> payload;
  if (!buildServerHandshake(applicationId_, version_, *makeServerInformation(applicationId_, version_),
                            &payload)) {
    LOG(ERROR) << "Couldn't encode";
    return false;
  }
  return sendMessage(kMessageHandshake, payload);
}

bool MessageBearer::sendFarewell(uint32_t reason) {
  uint8_t payload[4];
  storeLe32(payload, reason);
  const bool sent = sendMessage(kMessageFarewell, payload, sizeof(payload));
  farewellSent_ = true;
  if (dataBearer_) dataBearer_->disconnectAfterWriting();
  return sent;
}

void MessageBearer::onBearerDidConnect(DataBearer* bearer) {
  if (dataBearer_) dataBearer_->startReading();
}

void MessageBearer::onBearerWillDisconnect(DataBearer* bearer, const Error* error) {
  if (delegate_) delegate_->onMessageBearerWillDisconnect(this, error);
}

void MessageBearer::onBearerDidDisconnect(DataBearer* bearer) {
  disconnected_ = true;
  if (delegate_) delegate_->onMessageBearerDidDisconnect(this);
}

void MessageBearer::onBearerDidReadData(DataBearer* bearer, const std::vector<uint8_t>& bytes) {
  if (!decoder_ || disconnected_) return;
  const std::weak_ptr<char> alive(alive_);
  decoder_->feed(bytes.data(), bytes.size(), [this, &alive](const Frame& frame) {
    handleFrame(frame);
    return !alive.expired();
  });
  if (alive.expired() || !closeReason_ || disconnected_ || !dataBearer_) return;
  LOG(WARNING) << "Connection from " << dataBearer_->peerAddress() << ":" << dataBearer_->peerPort()
               << " closed: " << closeReason_;
  closeReason_ = nullptr;
  dataBearer_->disconnect();
}

bool MessageBearer::acceptFalseCandidate(const FalseCandidate& candidate) {
  if (!handshakePassed_ && candidate.headerValid) {
    closeReason_ = "a false frame before the handshake";
    return false;
  }
  const int64_t now = clock_();
  if (now - windowStartMs_ >= kFalseCandidateWindowMs || now < windowStartMs_) {
    windowStartMs_ = now;
    windowBytes_ = 0;
  }
  windowBytes_ += candidate.bytes;
  if (windowBytes_ <= kMaxFalseCandidateBytes) return true;
  closeReason_ = "too many false frame starts to scan again";
  return false;
}

void MessageBearer::handleFrame(const Frame& frame) {
  // A connection that is ending (disconnected, or told goodbye) has nothing
  // more to say.
  if (disconnected_ || farewellSent_) return;
  if (handshakePassed_) {
    if (delegate_) delegate_->onMessageBearerDidReceiveMessage(this, frame.type, frame.payload);
    return;
  }
  if (frame.type == kMessageHandshake) handleClientHandshake(frame.payload);
}

void MessageBearer::handleClientHandshake(const std::vector<uint8_t>& payload) {
  ClientHandshake handshake;
  if (!parseClientHandshake(payload.data(), payload.size(), &handshake)) {
    LOG(WARNING) << "Handshake of " << payload.size() << " bytes is too short; dropped";
    return;
  }
  if (handshake.applicationId != applicationId_) {
    LOG(INFO) << "Versions are not compatible. Client: " << handshake.applicationId;
    sendHandshake();
    sendFarewell(kFarewellApplicationRejected);
    return;
  }
  LOG(INFO) << "Handshake passed.";
  clientVersion_ = handshake.version();
  LOG(INFO) << "PIN: " << handshake.pin;
  LOG(INFO) << "Client v" << clientVersion_.toString();
  clientInformation_.reset();
  if (clientVersion_ >= ClientHandshake::dictionaryVersion()) {
    clientInformation_ = readHandshakeDictionary(handshake.rest, handshake.restSize);
    if (!clientInformation_) LOG(WARNING) << "Client information could not be decoded; ignored";
    else cleanClientStrings(clientInformation_.get());
  }
  handshakePassed_ = true;
  sendHandshake();
  if (delegate_) delegate_->onMessageBearerDidConnect(this);
}

}  // namespace transport
