// The handshake both ends exchange first (message type 3), and the version
// numbers it carries.
//
// The PC's payload: application id, four 32-bit version parts, then the
// serialised dictionary "AppID", "AppVersion", "SystemName", "SystemVersion".
// The phone's payload: application id, four version fields of which only the
// low 16 bits count, a PIN, and from version 2.0 on a serialised dictionary
// describing the phone ("DeviceModel", "SystemName", "SystemVersion").
#ifndef TRANSPORT_HANDSHAKE_H_
#define TRANSPORT_HANDSHAKE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/values.h"

namespace transport {

constexpr size_t kServerHandshakeFixedBytes = 20;
constexpr size_t kClientHandshakeFixedBytes = 24;

using VersionParts = std::array<uint32_t, 4>;

// A version as a sequence of numbers, compared part by part with missing
// parts counting as 0 ("2.0" equals "2.0.0.0").
class Version {
 public:
  Version() = default;
  explicit Version(std::vector<uint16_t> parts) : parts_(std::move(parts)) {}
  // "1.9" -> {1, 9}; a part that is not a number counts as 0.
  static Version fromString(const std::string& text);
  // The low 16 bits of each of the four fields.
  static Version fromFields(const std::array<uint32_t, 4>& fields);

  const std::vector<uint16_t>& parts() const { return parts_; }
  // Dotted form of every part ("2.0.0.0").
  std::string toString() const;
  // <0, 0 or >0.
  int compare(const Version& other) const;
  bool operator>=(const Version& other) const { return compare(other) >= 0; }
  bool operator<(const Version& other) const { return compare(other) < 0; }
  bool operator==(const Version& other) const { return compare(other) == 0; }

 private:
  std::vector<uint16_t> parts_;
};

// "2.2.0.0" split at the dots into four numbers; missing parts are 0.
VersionParts parseVersionParts(const std::string& text);
// "%u.%u.%u.%u".
std::string versionPartsText(const VersionParts& parts);

// The dictionary a serialised handshake dictionary decodes to, or null.
std::unique_ptr<base::DictionaryValue> readHandshakeDictionary(const uint8_t* data, size_t size);

// The PC's dictionary: "AppID", "AppVersion", "SystemName", "SystemVersion".
std::unique_ptr<base::DictionaryValue> makeServerInformation(uint32_t applicationId,
                                                             const VersionParts& version);
// False when the dictionary cannot be encoded.
bool buildServerHandshake(uint32_t applicationId, const VersionParts& version,
                          const base::DictionaryValue& information, std::vector<uint8_t>* payload);

struct ServerHandshake {
  uint32_t applicationId = 0;
  VersionParts version{};
  std::unique_ptr<base::DictionaryValue> information;  // null when missing or broken
};
// False when the payload is shorter than its fixed part.
bool parseServerHandshake(const uint8_t* data, size_t size, ServerHandshake* out);

struct ClientHandshake {
  uint32_t applicationId = 0;
  VersionParts versionFields{};  // as received
  uint32_t pin = 0;
  // Where the dictionary would start, and how many bytes follow the fixed part.
  const uint8_t* rest = nullptr;
  size_t restSize = 0;

  // The phone's version: the low 16 bits of each field.
  Version version() const;
  // Versions from this one on carry the dictionary.
  static Version dictionaryVersion() { return Version({2, 0}); }
};
// Reads the fixed part; `rest` points into `data`. False when too short.
bool parseClientHandshake(const uint8_t* data, size_t size, ClientHandshake* out);
// The phone's payload; the dictionary is appended when given.
bool buildClientHandshake(uint32_t applicationId, const VersionParts& version, uint32_t pin,
                          const base::DictionaryValue* information, std::vector<uint8_t>* payload);

}  // namespace transport

#endif  // TRANSPORT_HANDSHAKE_H_
