// The typed reads and writes of RegKey, the same on both builds: each is a
// raw read or write with the shape rules of its type.
#include "base/reg_key.h"

#include "base/reg_key_internal.h"

namespace base {
namespace internal {

std::string regStringBytes(const string16& text) {
  std::string out;
  out.reserve((text.size() + 1) * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  out.append(2, '\0');
  return out;
}

std::string regLittleEndian(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

uint64_t regFromLittleEndian(const std::string& data) {
  uint64_t v = 0;
  for (size_t i = data.size(); i-- > 0;) v = (v << 8) | static_cast<unsigned char>(data[i]);
  return v;
}

}  // namespace internal

namespace {

// The value's bytes when it has `type` and exactly `size` bytes.
int32_t readFixed(const RegKey& key, const string16& name, uint32_t type, size_t size,
                  uint64_t* out) {
  uint32_t actual = kRegNone;
  std::string data;
  const int32_t result = key.readRawValue(name, &actual, &data);
  if (result != kRegOk) return result;
  if (actual != type || data.size() != size) return kRegInvalidData;
  *out = internal::regFromLittleEndian(data);
  return kRegOk;
}

}  // namespace

bool RegKey::hasValue(const string16& name) const {
  uint32_t type;
  std::string data;
  return readRawValue(name, &type, &data) == kRegOk;
}

int32_t RegKey::readValue(const string16& name, string16* out) const {
  uint32_t type = kRegNone;
  std::string data;
  const int32_t result = readRawValue(name, &type, &data);
  if (result != kRegOk) return result;
  if ((type != kRegSz && type != kRegExpandSz) || data.size() < 2 || data.size() % 2 != 0 ||
      data[data.size() - 1] != 0 || data[data.size() - 2] != 0) {
    return kRegInvalidData;
  }
  string16 text;
  text.reserve(data.size() / 2);
  for (size_t i = 0; i + 2 < data.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                         (static_cast<unsigned char>(data[i + 1]) << 8)));
  }
  // Like a C string: the text ends at its first NUL.
  const size_t nul = text.find(u'\0');
  if (nul != string16::npos) text.resize(nul);
  *out = text;
  return kRegOk;
}

int32_t RegKey::readValueDW(const string16& name, uint32_t* out) const {
  uint64_t value = 0;
  const int32_t result = readFixed(*this, name, kRegDword, 4, &value);
  if (result == kRegOk) *out = static_cast<uint32_t>(value);
  return result;
}

int32_t RegKey::readValueQW(const string16& name, uint64_t* out) const {
  return readFixed(*this, name, kRegQword, 8, out);
}

int32_t RegKey::writeValue(const string16& name, const string16& text) {
  return writeRawValue(name, kRegSz, internal::regStringBytes(text));
}

int32_t RegKey::writeValueDW(const string16& name, uint32_t value) {
  return writeRawValue(name, kRegDword, internal::regLittleEndian(value, 4));
}

int32_t RegKey::writeValueQW(const string16& name, uint64_t value) {
  return writeRawValue(name, kRegQword, internal::regLittleEndian(value, 8));
}

}  // namespace base
