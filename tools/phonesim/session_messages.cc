#include "tools/phonesim/session_messages.h"

namespace phonesim {
namespace {

bool wordAt(const std::vector<uint8_t>& body, size_t offset, uint32_t* value) {
  if (offset > body.size() || body.size() - offset < 4) return false;
  *value = static_cast<uint32_t>(body[offset]) | static_cast<uint32_t>(body[offset + 1]) << 8 |
           static_cast<uint32_t>(body[offset + 2]) << 16 | static_cast<uint32_t>(body[offset + 3]) << 24;
  return true;
}

}  // namespace

void BodyWriter::word(uint32_t value) {
  for (int i = 0; i < 4; ++i) payload_.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

BodyWriter& BodyWriter::integerField(uint32_t tag, int32_t value) {
  word(tag);
  word(0);
  word(static_cast<uint32_t>(value));
  return *this;
}

BodyWriter& BodyWriter::bytesField(uint32_t tag, const std::string& bytes) {
  word(tag);
  word(1);
  word(static_cast<uint32_t>(bytes.size()));
  payload_.insert(payload_.end(), bytes.begin(), bytes.end());
  while (payload_.size() % 4) payload_.push_back(0);
  return *this;
}

BodyWriter& BodyWriter::oddField(uint32_t tag, uint32_t kind, const std::vector<uint8_t>& bytes) {
  word(tag);
  word(kind);
  return raw(bytes);
}

BodyWriter& BodyWriter::raw(const std::vector<uint8_t>& bytes) {
  payload_.insert(payload_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::vector<uint8_t> BodyWriter::bytes() const {
  std::vector<uint8_t> out;
  const uint32_t size = static_cast<uint32_t>(payload_.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(size >> (8 * i)));
  out.insert(out.end(), payload_.begin(), payload_.end());
  return out;
}

std::vector<uint8_t> authData(const std::string& uid, const std::string& name, bool nameFirst) {
  BodyWriter body(1);
  if (nameFirst) body.bytesField(2, name).bytesField(1, uid);
  else body.bytesField(1, uid).bytesField(2, name);
  return body.bytes();
}

std::vector<uint8_t> actionMessage(int32_t action) { return BodyWriter(action).bytes(); }

bool readKind(const std::vector<uint8_t>& body, int32_t* kind) {
  uint32_t size = 0, value = 0;
  if (!wordAt(body, 0, &size) || size > body.size() - 4 || !wordAt(body, 4, &value) || size < 4) return false;
  *kind = static_cast<int32_t>(value);
  return true;
}

bool readIntegerField(const std::vector<uint8_t>& body, uint32_t tag, int32_t* value) {
  uint32_t size = 0;
  if (!wordAt(body, 0, &size) || size > body.size() - 4) return false;
  const size_t end = 4 + static_cast<size_t>(size);
  size_t at = 8;  // after the kind
  uint32_t fieldTag = 0, fieldKind = 0, word = 0;
  while (at + 12 <= end && wordAt(body, at, &fieldTag) && wordAt(body, at + 4, &fieldKind) &&
         wordAt(body, at + 8, &word)) {
    if (fieldKind == 0) {
      if (fieldTag == tag) {
        *value = static_cast<int32_t>(word);
        return true;
      }
      at += 12;
    } else if (fieldKind == 1) {
      const size_t padded = (static_cast<size_t>(word) + 3) / 4 * 4;
      if (padded > end - at - 12) return false;
      at += 12 + padded;
    } else {
      return false;
    }
  }
  return false;
}

}  // namespace phonesim
