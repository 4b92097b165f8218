#include "tools/phonesim/phone_connection.h"

#include "transport/byte_order.h"
#include "transport/socket_data_bearer.h"

namespace phonesim {

using transport::Frame;

std::unique_ptr<base::DictionaryValue> makePhoneInformation(const PhoneIdentity& identity) {
  auto info = std::make_unique<base::DictionaryValue>();
  info->setString("DeviceModel", identity.deviceModel);
  info->setString("SystemName", identity.systemName);
  info->setString("SystemVersion", identity.systemVersion);
  return info;
}

PhoneConnection::PhoneConnection() = default;

PhoneConnection::~PhoneConnection() = default;

bool PhoneConnection::connect(const std::string& host, uint16_t port, int32_t timeoutMs, std::string* error) {
  bearer_ = std::make_unique<transport::SocketDataBearer>();
  bearer_->setDelegate(this);
  std::unique_ptr<transport::Error> failure;
  if (!bearer_->connect(host, port, timeoutMs, &failure)) {
    if (error) *error = transport::describeError(failure.get());
    return false;
  }
  return true;
}

bool PhoneConnection::sendHandshake(const PhoneIdentity& identity) {
  std::vector<uint8_t> payload;
  const bool withDictionary =
      identity.sendDictionary &&
      transport::Version::fromFields(identity.version) >= transport::ClientHandshake::dictionaryVersion();
  const auto info = makePhoneInformation(identity);
  if (!transport::buildClientHandshake(identity.applicationId, identity.version, identity.pin,
                                       withDictionary ? info.get() : nullptr, &payload))
    return false;
  return sendMessage(transport::kMessageHandshake, payload);
}

bool PhoneConnection::sendMessage(uint32_t type, const std::vector<uint8_t>& payload) {
  if (!bearer_) return false;
  std::vector<uint8_t> frame;
  if (!encoder_.encode(type, payload.data(), payload.size(), &frame)) return false;
  return write(std::move(frame));
}

void PhoneConnection::sendRaw(std::vector<uint8_t> bytes) {
  if (bearer_) write(std::move(bytes));
}

bool PhoneConnection::write(std::vector<uint8_t> bytes) {
  if (!holding_) return bearer_->write(std::move(bytes), -1);
  held_.insert(held_.end(), bytes.begin(), bytes.end());
  return true;
}

size_t PhoneConnection::release() {
  holding_ = false;
  const size_t bytes = held_.size();
  if (bearer_ && bytes) bearer_->write(std::move(held_), -1);
  held_ = {};
  return bytes;
}

void PhoneConnection::disconnect() {
  release();
  if (bearer_) bearer_->disconnectAfterWriting();
}

void PhoneConnection::abort() {
  holding_ = false;
  held_ = {};
  if (bearer_) bearer_->disconnect();
}

uint16_t PhoneConnection::localPort() const { return bearer_ ? bearer_->localPort() : 0; }

void PhoneConnection::onBearerDidConnect(transport::DataBearer* bearer) {
  connected_ = true;
  bearer->startReading();
  FOR_EACH_OBSERVER(Observer, observers_, onPhoneConnected(this));
}

void PhoneConnection::onBearerWillDisconnect(transport::DataBearer*, const transport::Error* error) {
  if (error) closeError_ = std::make_unique<transport::Error>(*error);
}

void PhoneConnection::onBearerDidDisconnect(transport::DataBearer*) {
  closed_ = true;
  FOR_EACH_OBSERVER(Observer, observers_, onPhoneDisconnected(this, closeError_.get()));
}

void PhoneConnection::onBearerDidReadData(transport::DataBearer*, const std::vector<uint8_t>& bytes) {
  const std::weak_ptr<char> alive(alive_);
  decoder_.feed(bytes.data(), bytes.size(), [this, &alive](const Frame& frame) {
    handleFrame(frame);
    return !alive.expired();
  });
}

void PhoneConnection::handleFrame(const Frame& frame) {
  ++framesReceived_;
  if (frame.type == transport::kMessageHandshake) {
    auto handshake = std::make_unique<transport::ServerHandshake>();
    if (!transport::parseServerHandshake(frame.payload.data(), frame.payload.size(), handshake.get())) return;
    serverHandshake_ = std::move(handshake);
    FOR_EACH_OBSERVER(Observer, observers_, onServerHandshake(this, *serverHandshake_, frame.sequence));
    return;
  }
  if (frame.type == transport::kMessageFarewell && frame.payload.size() == 4) {
    farewellReceived_ = true;
    farewellReason_ = transport::loadLe32(frame.payload.data());
    FOR_EACH_OBSERVER(Observer, observers_, onFarewell(this, farewellReason_, frame.sequence));
    return;
  }
  FOR_EACH_OBSERVER(Observer, observers_, onMessage(this, frame));
}

}  // namespace phonesim
