#include "transport/handshake.h"

#include <algorithm>

#include "base/pickle.h"
#include "base/string_util.h"
#include "base/sys_info.h"
#include "transport/byte_order.h"

namespace transport {
namespace {

// Digits at the start of `part` as a number (saturating); 0 when none.
uint32_t leadingNumber(const std::string& part) {
  uint64_t value = 0;
  for (char c : part) {
    if (c < '0' || c > '9') break;
    value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(c - '0'), 0xFFFFFFFFu);
  }
  return static_cast<uint32_t>(value);
}

std::vector<std::string> splitDots(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts;
}

bool appendDictionary(const base::DictionaryValue& dictionary, std::vector<uint8_t>* out) {
  base::Pickle pickle;
  if (!base::writeDictionaryToPickle(dictionary, &pickle)) return false;
  out->insert(out->end(), pickle.data(), pickle.data() + pickle.size());
  return true;
}

}  // namespace

Version Version::fromString(const std::string& text) {
  std::vector<uint16_t> parts;
  for (const std::string& part : splitDots(text))
    parts.push_back(static_cast<uint16_t>(std::min<uint32_t>(leadingNumber(part), 0xFFFF)));
  return Version(std::move(parts));
}

std::string Version::toString() const {
  std::string text;
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (i) text += '.';
    text += std::to_string(parts_[i]);
  }
  return text;
}

int Version::compare(const Version& other) const {
  const size_t n = std::max(parts_.size(), other.parts_.size());
  for (size_t i = 0; i < n; ++i) {
    const uint16_t a = i < parts_.size() ? parts_[i] : 0;
    const uint16_t b = i < other.parts_.size() ? other.parts_[i] : 0;
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
}

VersionParts parseVersionParts(const std::string& text) {
  VersionParts parts{};
  const std::vector<std::string> pieces = splitDots(text);
  for (size_t i = 0; i < parts.size() && i < pieces.size(); ++i) parts[i] = leadingNumber(pieces[i]);
  return parts;
}

std::string versionPartsText(const VersionParts& parts) {
  return base::stringPrintf("%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
}

std::unique_ptr<base::DictionaryValue> readHandshakeDictionary(const uint8_t* data, size_t size) {
  if (!data || size == 0) return nullptr;
  base::Pickle view(data, size);
  base::PickleIterator it(view);
  return base::readDictionaryFromPickle(&it);
}

std::unique_ptr<base::DictionaryValue> makeServerInformation(uint32_t applicationId,
                                                             const VersionParts& version) {
  auto info = std::make_unique<base::DictionaryValue>();
  info->setInteger("AppID", static_cast<int32_t>(applicationId));
  info->setString("AppVersion", versionPartsText(version));
  info->setString("SystemName", base::operatingSystemName());
  info->setString("SystemVersion", base::operatingSystemVersion());
  return info;
}

bool buildServerHandshake(uint32_t applicationId, const VersionParts& version,
                          const base::DictionaryValue& information, std::vector<uint8_t>* payload) {
  payload->clear();
  appendLe32(payload, applicationId);
  for (uint32_t part : version) appendLe32(payload, part);
  return appendDictionary(information, payload);
}

bool parseServerHandshake(const uint8_t* data, size_t size, ServerHandshake* out) {
  if (!data || size < kServerHandshakeFixedBytes) return false;
  out->applicationId = loadLe32(data);
  for (size_t i = 0; i < 4; ++i) out->version[i] = loadLe32(data + 4 + 4 * i);
  out->information = readHandshakeDictionary(data + kServerHandshakeFixedBytes,
                                             size - kServerHandshakeFixedBytes);
  return true;
}

Version Version::fromFields(const std::array<uint32_t, 4>& fields) {
  std::vector<uint16_t> parts;
  for (uint32_t field : fields) parts.push_back(static_cast<uint16_t>(field & 0xFFFF));
  return Version(std::move(parts));
}

Version ClientHandshake::version() const { return Version::fromFields(versionFields); }

bool parseClientHandshake(const uint8_t* data, size_t size, ClientHandshake* out) {
  if (!data || size < kClientHandshakeFixedBytes) return false;
  out->applicationId = loadLe32(data);
  for (size_t i = 0; i < 4; ++i) out->versionFields[i] = loadLe32(data + 4 + 4 * i);
  out->pin = loadLe32(data + 20);
  out->rest = data + kClientHandshakeFixedBytes;
  out->restSize = size - kClientHandshakeFixedBytes;
  return true;
}

bool buildClientHandshake(uint32_t applicationId, const VersionParts& version, uint32_t pin,
                          const base::DictionaryValue* information, std::vector<uint8_t>* payload) {
  payload->clear();
  appendLe32(payload, applicationId);
  for (uint32_t part : version) appendLe32(payload, part);
  appendLe32(payload, pin);
  return !information || appendDictionary(*information, payload);
}

}  // namespace transport
