// The phone's side of the session messages, written out byte by byte (and
// not with the PC's own writers, so that a fault there shows): the
// authorization data it sends (type 14, kind 1), the PC's authorization
// result (kind 2), and the actions both sides send (type 91001).
//
// A component message body: a 32-bit little-endian payload size, then the
// payload: a 32-bit kind and tagged fields (tag and field kind in a 4-byte
// slot each; kind 0 a 32-bit integer, kind 1 a 32-bit length and the bytes
// padded to 4).
#ifndef TOOLS_PHONESIM_SESSION_MESSAGES_H_
#define TOOLS_PHONESIM_SESSION_MESSAGES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace phonesim {

constexpr uint32_t kAuthType = 14;
constexpr uint32_t kActionType = 91001;

// Builds one body field by field.
class BodyWriter {
 public:
  explicit BodyWriter(int32_t kind) { word(static_cast<uint32_t>(kind)); }
  BodyWriter& integerField(uint32_t tag, int32_t value);
  BodyWriter& bytesField(uint32_t tag, const std::string& bytes);
  // A field of another kind with `bytes` after the tag and kind.
  BodyWriter& oddField(uint32_t tag, uint32_t kind, const std::vector<uint8_t>& bytes);
  BodyWriter& raw(const std::vector<uint8_t>& bytes);
  // The size word and the payload.
  std::vector<uint8_t> bytes() const;

 private:
  void word(uint32_t value);
  std::vector<uint8_t> payload_;
};

// Authorization data as the phone sends it: unique id (tag 1), then name (tag
// 2), or the name first.
std::vector<uint8_t> authData(const std::string& uid, const std::string& name, bool nameFirst = false);
// An action (1 start recording, 2 stop recording, 3 snapshot).
std::vector<uint8_t> actionMessage(int32_t action);

// The kind of a body and the integer of tagged field `tag`; false when the
// body is too short or has no such integer field.
bool readKind(const std::vector<uint8_t>& body, int32_t* kind);
bool readIntegerField(const std::vector<uint8_t>& body, uint32_t tag, int32_t* value);

}  // namespace phonesim

#endif  // TOOLS_PHONESIM_SESSION_MESSAGES_H_
