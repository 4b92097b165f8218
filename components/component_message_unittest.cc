#include "components/component_message.h"

#include <gtest/gtest.h>

namespace component {
namespace {

std::vector<uint8_t> bytesOf(const base::Pickle& p) { return messageBytes(p); }

TEST(ComponentMessage, KindAndFieldsRoundTrip) {
  base::Pickle message = makeComponentMessage(7);
  ASSERT_TRUE(writeTaggedInteger(&message, 3, -42));
  const char text[] = "hello";  // 5 bytes: padded on the wire
  ASSERT_TRUE(writeTaggedBytes(&message, 9, text, 5));
  ASSERT_TRUE(writeTaggedInteger(&message, 4, 0x6A706567));
  const std::vector<uint8_t> bytes = bytesOf(message);

  // Exact layout: size word, kind, then tag/kind slots of 4 bytes each.
  const std::vector<uint8_t> expected = {
      48, 0, 0, 0,                          // payload size
      7, 0, 0, 0,                           // kind
      3, 0, 0, 0, 0, 0, 0, 0, 0xD6, 0xFF, 0xFF, 0xFF,  // tag 3, kind 0, -42
      9, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o', 0, 0, 0,
      4, 0, 0, 0, 0, 0, 0, 0, 0x67, 0x65, 0x70, 0x6A,
  };
  EXPECT_EQ(expected, bytes);

  ComponentMessageReader reader(bytes);
  EXPECT_EQ(7, reader.kind());
  TaggedFieldReader fields(reader.iterator());
  TaggedField f;
  ASSERT_EQ(TaggedFieldReader::kField, fields.next(&f));
  EXPECT_EQ(3, f.tag);
  EXPECT_EQ(kTaggedInteger, f.kind);
  EXPECT_EQ(-42, f.integer);
  ASSERT_EQ(TaggedFieldReader::kField, fields.next(&f));
  EXPECT_EQ(9, f.tag);
  EXPECT_EQ(std::string("hello"), std::string(reinterpret_cast<const char*>(f.data), f.length));
  ASSERT_EQ(TaggedFieldReader::kField, fields.next(&f));
  EXPECT_EQ(static_cast<int32_t>(0x6A706567), f.integer);
  EXPECT_EQ(TaggedFieldReader::kEnd, fields.next(&f));
}

TEST(ComponentMessage, ShortOrEmptyBodiesHaveKindZero) {
  EXPECT_EQ(0, ComponentMessageReader(std::vector<uint8_t>{}).kind());
  EXPECT_EQ(0, ComponentMessageReader(std::vector<uint8_t>{0, 0, 0, 0}).kind());
  // A size word that promises more than follows.
  EXPECT_EQ(0, ComponentMessageReader(std::vector<uint8_t>{8, 0, 0, 0, 1, 0, 0, 0}).kind());
}

TEST(ComponentMessage, BrokenFieldsDoNotMoveTheReader) {
  base::Pickle message = makeComponentMessage(1);
  message.writeInt(2);  // tag
  message.writeInt(1);  // kind 1 ...
  message.writeInt(1000);  // ... whose length runs past the end
  message.writeInt(0);
  const std::vector<uint8_t> bytes = bytesOf(message);
  ComponentMessageReader reader(bytes);
  const size_t before = reader.iterator()->offset();
  TaggedFieldReader fields(reader.iterator());
  TaggedField f;
  EXPECT_EQ(TaggedFieldReader::kBroken, fields.next(&f));
  EXPECT_EQ(before, reader.iterator()->offset());

  // Negative lengths are refused too.
  base::Pickle negative = makeComponentMessage(1);
  negative.writeInt(2);
  negative.writeInt(1);
  negative.writeInt(-4);
  const std::vector<uint8_t> nbytes = bytesOf(negative);
  ComponentMessageReader nreader(nbytes);
  TaggedFieldReader nfields(nreader.iterator());
  EXPECT_EQ(TaggedFieldReader::kBroken, nfields.next(&f));

  // A lone tag slot without its kind.
  base::Pickle lone = makeComponentMessage(1);
  lone.writeInt(5);
  const std::vector<uint8_t> lbytes = bytesOf(lone);
  ComponentMessageReader lreader(lbytes);
  TaggedFieldReader lfields(lreader.iterator());
  EXPECT_EQ(TaggedFieldReader::kBroken, lfields.next(&f));
}

TEST(ComponentMessage, UnknownKindStopsWithTagAndKindKnown) {
  base::Pickle message = makeComponentMessage(1);
  message.writeInt(6);
  message.writeInt(2);  // kind 2 has no defined value
  message.writeInt(123);
  const std::vector<uint8_t> bytes = bytesOf(message);
  ComponentMessageReader reader(bytes);
  TaggedFieldReader fields(reader.iterator());
  TaggedField f;
  EXPECT_EQ(TaggedFieldReader::kUnknownKind, fields.next(&f));
  EXPECT_EQ(6, f.tag);
  EXPECT_EQ(2, f.kind);
}

TEST(ComponentMessage, FourCCPutsTheFirstLetterHighest) {
  EXPECT_EQ(0x6A706567u, fourCC('j', 'p', 'e', 'g'));
  EXPECT_EQ(0x696C6263u, fourCC('i', 'l', 'b', 'c'));
  EXPECT_EQ(0x6C70636Du, fourCC('l', 'p', 'c', 'm'));
}

}  // namespace
}  // namespace component
