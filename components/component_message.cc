#include "components/component_message.h"

namespace component {
ComponentMessageReader::ComponentMessageReader(const std::vector<uint8_t>& payload)
    : ComponentMessageReader(payload.data(), payload.size()) {}

ComponentMessageReader::ComponentMessageReader(const uint8_t* data, size_t size)
    : pickle_(data, size), iter_(pickle_) {
  int32_t kind = 0;
  if (iter_.readInt(&kind)) kind_ = kind;
}

base::Pickle makeComponentMessage(int32_t kind) {
  base::Pickle message;
  message.writeInt(kind);
  return message;
}

std::vector<uint8_t> messageBytes(const base::Pickle& message) {
  return std::vector<uint8_t>(message.data(), message.data() + message.size());
}

TaggedFieldReader::Result TaggedFieldReader::next(TaggedField* field) {
  if (iter_->remaining() == 0) return kEnd;
  // Each field is read from a copy of the iterator, which replaces the real
  // one only when the whole field was there.
  base::PickleIterator probe = *iter_;
  uint8_t tag = 0;
  uint8_t kind = 0;
  if (!probe.readByte(&tag) || !probe.readByte(&kind)) return kBroken;
  TaggedField out;
  out.tag = tag;
  out.kind = kind;
  if (kind == kTaggedInteger) {
    if (!probe.readInt(&out.integer)) return kBroken;
  } else if (kind == kTaggedBytes) {
    const uint8_t* data = nullptr;
    int32_t length = 0;
    if (!probe.readData(&data, &length)) return kBroken;
    out.data = data;
    out.length = static_cast<size_t>(length);
  } else {
    *field = out;
    return kUnknownKind;
  }
  *iter_ = probe;
  *field = out;
  return kField;
}

bool writeTaggedInteger(base::Pickle* message, uint8_t tag, int32_t value) {
  return message->writeInt(tag) && message->writeInt(kTaggedInteger) && message->writeInt(value);
}

bool writeTaggedBytes(base::Pickle* message, uint8_t tag, const void* data, size_t length) {
  return message->writeInt(tag) && message->writeInt(kTaggedBytes) && message->writeData(data, length);
}

}  // namespace component
