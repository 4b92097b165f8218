// The body of every component message (a serialised Pickle whose first
// 32-bit integer is the message kind), and the tagged-field form that the
// authorization, action, video and audio messages share: a tag byte and a
// kind byte, each in a 4-byte slot, then a 32-bit integer (kind 0) or a
// 32-bit length and that many bytes padded to 4 (kind 1).
//
// Thread: none of its own; used on whatever thread reads or builds a message.
#ifndef COMPONENTS_COMPONENT_MESSAGE_H_
#define COMPONENTS_COMPONENT_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/pickle.h"

namespace component {

// A four-letter code as the phone sends it: the first letter is the most
// significant byte ('jpeg' = 0x6A706567).
constexpr uint32_t fourCC(char a, char b, char c, char d) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) | static_cast<uint32_t>(static_cast<uint8_t>(d));
}

// Component ids: the message types each component owns on the wire.
constexpr uint32_t kAuthComponentId = 14;
constexpr uint32_t kVideoComponentId = 13001;
constexpr uint32_t kAudioComponentId = 56001;
constexpr uint32_t kActionComponentId = 91001;

// A received component message: a read-only pickle over the payload and a
// reader positioned after the kind. The payload must outlive the reader.
class ComponentMessageReader {
 public:
  explicit ComponentMessageReader(const std::vector<uint8_t>& payload);
  ComponentMessageReader(const uint8_t* data, size_t size);
  ComponentMessageReader(const ComponentMessageReader&) = delete;
  ComponentMessageReader& operator=(const ComponentMessageReader&) = delete;

  // The message kind; 0 (which no component uses) when the body is too short
  // to hold one.
  int32_t kind() const { return kind_; }
  base::PickleIterator* iterator() { return &iter_; }

 private:
  base::Pickle pickle_;
  base::PickleIterator iter_;
  int32_t kind_ = 0;
};

// A new message of `kind`, ready for its fields.
base::Pickle makeComponentMessage(int32_t kind);
// The pickle's bytes (payload size word and payload) as the bearer sends them.
std::vector<uint8_t> messageBytes(const base::Pickle& message);

// The kinds of a tagged field.
constexpr uint8_t kTaggedInteger = 0;
constexpr uint8_t kTaggedBytes = 1;

struct TaggedField {
  uint8_t tag = 0;
  uint8_t kind = 0;
  int32_t integer = 0;             // kind 0
  const uint8_t* data = nullptr;   // kind 1: points into the message
  size_t length = 0;               // kind 1
};

// Reads tagged fields in order from an iterator. Never moves the iterator
// past a field it could not read whole.
class TaggedFieldReader {
 public:
  enum Result {
    kField,        // a whole field of kind 0 or 1 was read
    kEnd,          // no bytes left
    kUnknownKind,  // tag and kind read (in `field`), but the kind is neither
                   // 0 nor 1, so its value cannot be read or skipped
    kBroken,       // the bytes end inside the field
  };

  explicit TaggedFieldReader(base::PickleIterator* iter) : iter_(iter) {}
  Result next(TaggedField* field);

 private:
  base::PickleIterator* iter_;
};

// Writers of the same form.
bool writeTaggedInteger(base::Pickle* message, uint8_t tag, int32_t value);
bool writeTaggedBytes(base::Pickle* message, uint8_t tag, const void* data, size_t length);

}  // namespace component

#endif  // COMPONENTS_COMPONENT_MESSAGE_H_
