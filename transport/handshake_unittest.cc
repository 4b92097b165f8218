#include "transport/handshake.h"

#include <gtest/gtest.h>

#include "base/sys_info.h"
#include "transport/byte_order.h"
#include "transport/transport_test_support.h"

namespace transport {
namespace {

TEST(Version, ComparesPartByPartWithMissingPartsAsZero) {
  EXPECT_EQ(Version::fromString("2.0"), Version({2, 0, 0, 0}));
  EXPECT_LT(Version::fromString("1.9.9.9"), Version::fromString("2"));
  EXPECT_GE(Version::fromString("2.0.0.1"), Version::fromString("2.0"));
  EXPECT_LT(Version::fromString("2.0"), Version::fromString("10.0"));  // numeric, not text
  EXPECT_EQ(Version({1, 9, 0, 0}).toString(), "1.9.0.0");
  EXPECT_EQ(Version::fromString("3.x.7").parts(), (std::vector<uint16_t>{3, 0, 7}));

  EXPECT_EQ(parseVersionParts("2.2.0.0"), (VersionParts{2, 2, 0, 0}));
  EXPECT_EQ(parseVersionParts("2.2"), (VersionParts{2, 2, 0, 0}));
  EXPECT_EQ(parseVersionParts(""), (VersionParts{0, 0, 0, 0}));
  EXPECT_EQ(parseVersionParts("1.2.3.4.5"), (VersionParts{1, 2, 3, 4}));
  EXPECT_EQ(parseVersionParts("99999999999.1"), (VersionParts{0xFFFFFFFFu, 1, 0, 0}));
  EXPECT_EQ(versionPartsText({2, 2, 0, 0}), "2.2.0.0");
}

TEST(Handshake, ServerPayloadLayoutAndDictionary) {
  std::vector<uint8_t> payload;
  ASSERT_TRUE(buildServerHandshake(12000, {2, 2, 0, 0}, *makeServerInformation(12000, {2, 2, 0, 0}), &payload));
  ASSERT_GT(payload.size(), kServerHandshakeFixedBytes + 4);
  EXPECT_EQ(loadLe32(payload.data()), 12000u);
  EXPECT_EQ(loadLe32(payload.data() + 4), 2u);
  EXPECT_EQ(loadLe32(payload.data() + 8), 2u);
  EXPECT_EQ(loadLe32(payload.data() + 12), 0u);
  EXPECT_EQ(loadLe32(payload.data() + 16), 0u);
  // The dictionary is a size-prefixed pickle filling the rest exactly.
  EXPECT_EQ(loadLe32(payload.data() + 20), payload.size() - 24);

  ServerHandshake parsed;
  ASSERT_TRUE(parseServerHandshake(payload.data(), payload.size(), &parsed));
  ASSERT_TRUE(parsed.information);
  int32_t id = 0;
  std::string text;
  EXPECT_TRUE(parsed.information->getInteger("AppID", &id));
  EXPECT_EQ(id, 12000);
  EXPECT_TRUE(parsed.information->getString("AppVersion", &text));
  EXPECT_EQ(text, "2.2.0.0");
  EXPECT_TRUE(parsed.information->getString("SystemName", &text));
  EXPECT_EQ(text, base::operatingSystemName());
  EXPECT_TRUE(parsed.information->getString("SystemVersion", &text));
  EXPECT_EQ(text, base::operatingSystemVersion());
  EXPECT_EQ(parsed.information->size(), 4u);

  EXPECT_FALSE(parseServerHandshake(payload.data(), kServerHandshakeFixedBytes - 1, &parsed));
}

TEST(Handshake, ClientPayloadFieldsAndShortPayloads) {
  std::vector<uint8_t> payload;
  ASSERT_TRUE(buildClientHandshake(12000, {0x10002, 0xFFFF0000, 0, 0}, 4321, nullptr, &payload));
  ASSERT_EQ(payload.size(), kClientHandshakeFixedBytes);
  ClientHandshake parsed;
  ASSERT_TRUE(parseClientHandshake(payload.data(), payload.size(), &parsed));
  EXPECT_EQ(parsed.applicationId, 12000u);
  EXPECT_EQ(parsed.pin, 4321u);
  EXPECT_EQ(parsed.restSize, 0u);
  // Only the low 16 bits of each field count.
  EXPECT_EQ(parsed.version().toString(), "2.0.0.0");
  EXPECT_FALSE(parseClientHandshake(payload.data(), kClientHandshakeFixedBytes - 1, &parsed));
  EXPECT_FALSE(parseClientHandshake(nullptr, 0, &parsed));

  const std::vector<uint8_t> dict = pickledStrings({{"DeviceModel", "iPhone"}});
  payload.insert(payload.end(), dict.begin(), dict.end());
  ASSERT_TRUE(parseClientHandshake(payload.data(), payload.size(), &parsed));
  auto info = readHandshakeDictionary(parsed.rest, parsed.restSize);
  ASSERT_TRUE(info);
  std::string model;
  EXPECT_TRUE(info->getString("DeviceModel", &model));
  EXPECT_EQ(model, "iPhone");

  // A size field promising more than there is, or no bytes at all: nothing.
  std::vector<uint8_t> cut(dict.begin(), dict.end() - 1);
  EXPECT_FALSE(readHandshakeDictionary(cut.data(), cut.size()));
  EXPECT_FALSE(readHandshakeDictionary(nullptr, 0));
}

}  // namespace
}  // namespace transport
