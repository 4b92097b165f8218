#include "components/component_test_support.h"

#include "components/component_message.h"
#include "transport/handshake.h"
#include "transport/message_bearer.h"

namespace component {

FakePhone::FakePhone(transport::Transport* transport) : transport_(transport) {}

FakePhone::~FakePhone() = default;

bool FakePhone::connect(const std::string& version, uint32_t applicationId) {
  bearer_ = new transport::FakeDataBearer();
  // The transport takes the bearer as if its listener had accepted it.
  static_cast<transport::DataBearer::Delegate*>(transport_)->onBearerDidAcceptNewBearer(nullptr, bearer_);
  bearer_->connect();
  encoder_ = transport::FrameEncoder();
  const transport::VersionParts parts = transport::parseVersionParts(version);
  base::DictionaryValue information;
  information.setString("DeviceModel", "iPhone14,2");
  information.setString("SystemName", "iOS");
  information.setString("SystemVersion", "17.0");
  std::vector<uint8_t> handshake;
  const bool dictionary = transport::Version::fromFields(parts) >= transport::ClientHandshake::dictionaryVersion();
  transport::buildClientHandshake(applicationId, parts, 1234, dictionary ? &information : nullptr, &handshake);
  sendRaw(transport::kMessageHandshake, handshake);
  connected_ = transport_->clientBearer() != nullptr && transport_->clientBearer()->dataBearer() == bearer_;
  return connected_;
}

void FakePhone::drop() {
  if (!bearer_) return;
  transport::FakeDataBearer* bearer = bearer_;
  bearer_ = nullptr;
  connected_ = false;
  bearer->drop(nullptr);
}

void FakePhone::send(uint32_t type, const base::Pickle& message) { sendRaw(type, messageBytes(message)); }

void FakePhone::sendRaw(uint32_t type, const std::vector<uint8_t>& payload) {
  if (!bearer_) return;
  std::vector<uint8_t> frame;
  if (!encoder_.encode(type, payload.data(), payload.size(), &frame)) return;
  bearer_->receive(frame);
}

std::vector<transport::Frame> FakePhone::received() {
  std::vector<transport::Frame> frames;
  if (!bearer_) return frames;
  const std::vector<uint8_t> bytes = bearer_->written();
  transport::FrameDecoder decoder;
  decoder.feed(bytes.data(), bytes.size(), [&frames](const transport::Frame& frame) {
    frames.push_back(frame);
    return true;
  });
  return frames;
}

std::vector<transport::Frame> FakePhone::receivedOfType(uint32_t type) {
  std::vector<transport::Frame> frames;
  for (transport::Frame& frame : received()) {
    if (frame.type == type) frames.push_back(std::move(frame));
  }
  return frames;
}

bool readTaggedInteger(const std::vector<uint8_t>& payload, int32_t* kind, uint8_t tag, int32_t* value) {
  ComponentMessageReader message(payload);
  *kind = message.kind();
  TaggedFieldReader reader(message.iterator());
  TaggedField field;
  while (reader.next(&field) == TaggedFieldReader::kField) {
    if (field.tag == tag && field.kind == kTaggedInteger) {
      *value = field.integer;
      return true;
    }
  }
  return false;
}

}  // namespace component
