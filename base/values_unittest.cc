#include "base/values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "base/pickle.h"

namespace base {
namespace {

std::vector<uint8_t> bytesOf(const Pickle& p) {
  return std::vector<uint8_t>(p.data(), p.data() + p.size());
}

std::vector<uint8_t> encode(const DictionaryValue& d) {
  Pickle p;
  EXPECT_TRUE(writeDictionaryToPickle(d, &p));
  return bytesOf(p);
}

std::unique_ptr<DictionaryValue> decode(const std::vector<uint8_t>& bytes) {
  Pickle p(bytes.data(), bytes.size());
  PickleIterator it(p);
  return readDictionaryFromPickle(&it);
}

// Little builder for hand-made wire bytes (payload only; size added by finish).
struct Wire {
  std::vector<uint8_t> payload;
  Wire& u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Wire& tag(uint8_t t) { return u32(t); }
  Wire& str(const std::string& s) {
    u32(static_cast<uint32_t>(s.size()));
    payload.insert(payload.end(), s.begin(), s.end());
    while (payload.size() % 4) payload.push_back(0);
    return *this;
  }
  std::vector<uint8_t> finish() const {
    std::vector<uint8_t> out;
    const auto n = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(n >> (8 * i)));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
  }
};

TEST(ValuesEncoding, ExactBytes) {
  DictionaryValue one;
  one.setInteger("A", 5);
  const std::vector<uint8_t> expected = {
      0x18, 0, 0, 0, 6, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'A', 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0};
  EXPECT_EQ(encode(one), expected);

  DictionaryValue empty;
  EXPECT_EQ(encode(empty), (std::vector<uint8_t>{8, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0}));

  // Strings: length 4 has no padding, length 5 gets three zero bytes before
  // the next item.
  DictionaryValue strings;
  strings.setString("k", "abcd");
  strings.setString("l", "abcde");
  const auto b = encode(strings);
  Wire w;
  w.tag(6).u32(2).str("k").tag(4).str("abcd").str("l").tag(4).u32(5);
  auto expectedStrings = w.payload;
  for (char c : std::string("abcde")) expectedStrings.push_back(static_cast<uint8_t>(c));
  // The payload ends after the last byte of data; padding is not counted.
  ASSERT_EQ(b.size(), 4 + expectedStrings.size());
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 4, b.end()), expectedStrings);

  // 64-bit integer: low half first; real: IEEE-754 bytes.
  DictionaryValue wide;
  wide.setInt64("x", 0x0102030405060708LL);
  const auto wb = encode(wide);
  const std::vector<uint8_t> tail = {8, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1};
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), wb.end() - 12));
}

TEST(ValuesEncoding, RoundTripOfEveryKind) {
  DictionaryValue d;
  d.setBoolean("bool", true);
  d.setInteger("int", -7);
  d.setInt64("int64", -0x123456789ALL);
  d.setReal("real", 0.1);
  d.setString("str", "h\xC3\xA9llo");
  const uint8_t blob[] = {1, 2, 3, 4, 5};
  d.set("bin", BinaryValue::createWithCopiedBuffer(blob, sizeof(blob)));
  auto* list = new ListValue;
  list->append(new FundamentalValue(1));
  list->append(new StringValue("two"));
  auto* inner = new DictionaryValue;
  inner->setBoolean("deep", false);
  list->append(inner);
  d.set("list", list);
  d.set("dict.with.dots", new DictionaryValue);

  const auto decoded = decode(encode(d));
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->equals(&d));
  EXPECT_TRUE(decoded->hasKey("dict.with.dots"));

  // A null anywhere makes encoding fail.
  d.set("null", Value::createNull());
  Pickle p;
  EXPECT_FALSE(writeDictionaryToPickle(d, &p));
}

TEST(ValuesEncoding, DecoderRules) {
  // The same key twice: the later value wins.
  Wire dup;
  dup.tag(6).u32(2).str("k").tag(2).u32(1).str("k").tag(2).u32(2);
  auto d = decode(dup.finish());
  ASSERT_TRUE(d);
  int32_t v = 0;
  EXPECT_TRUE(d->getInteger("k", &v));
  EXPECT_EQ(v, 2);
  EXPECT_EQ(d->size(), 1u);

  // A list where the dictionary is expected.
  Wire list;
  list.tag(7).u32(0);
  EXPECT_FALSE(decode(list.finish()));

  // A string length beyond the payload, a negative length, an unknown tag,
  // a null tag, and a count the bytes cannot hold.
  Wire longString;
  longString.tag(6).u32(1).str("k").tag(4).u32(1000).u32(0);
  EXPECT_FALSE(decode(longString.finish()));
  Wire negative;
  negative.tag(6).u32(1).str("k").tag(5).u32(0xFFFFFFFF);
  EXPECT_FALSE(decode(negative.finish()));
  Wire unknown;
  unknown.tag(6).u32(1).str("k").tag(9).u32(0);
  EXPECT_FALSE(decode(unknown.finish()));
  Wire null;
  null.tag(6).u32(1).str("k").tag(0);
  EXPECT_FALSE(decode(null.finish()));
  Wire hugeCount;
  hugeCount.tag(6).u32(0x7FFFFFFF);
  EXPECT_FALSE(decode(hugeCount.finish()));
  Wire hugeList;
  hugeList.tag(6).u32(1).str("k").tag(7).u32(0x10000000).tag(2).u32(1);
  EXPECT_FALSE(decode(hugeList.finish()));
  // A declared payload size beyond the bytes received.
  auto truncated = Wire().tag(6).u32(0).finish();
  truncated[0] = 200;
  EXPECT_FALSE(decode(truncated));
}

TEST(ValuesEncoding, NestingLimit) {
  // Lists nested just below the limit decode; deeper ones are refused
  // without exhausting the stack, however deep the input claims to be.
  auto nested = [](int depth) {
    Wire w;
    w.tag(6).u32(1).str("k");
    for (int i = 0; i < depth; ++i) w.tag(7).u32(1);
    w.tag(2).u32(1);
    return w.finish();
  };
  EXPECT_TRUE(decode(nested(kMaxValueNesting - 1)));
  EXPECT_FALSE(decode(nested(kMaxValueNesting + 1)));
  EXPECT_FALSE(decode(nested(200000)));
}

TEST(ValuesEncoding, FailureLeavesIteratorInPlace) {
  Pickle p;
  p.writeInt(42);
  Wire bad;
  bad.tag(6).u32(1).str("k").tag(4).u32(1000);
  p.writeBytes(bad.payload.data(), bad.payload.size());
  Pickle view(p.data(), p.size());
  PickleIterator it(view);
  int32_t kind;
  ASSERT_TRUE(it.readInt(&kind));
  const size_t before = it.offset();
  EXPECT_FALSE(readDictionaryFromPickle(&it));
  EXPECT_EQ(it.offset(), before);
}

// What the values fuzzer checks on every input, on the kind of input that
// once stopped it: reals from the wire that are NaNs (a quiet one, a negative
// one with a payload) or a negative zero decode, equal their re-encoding and
// encode back to the very bytes received.
TEST(ValuesEncoding, ReceivedNaNsRoundTripBitForBit) {
  const uint64_t reals[] = {0x7FF8000000000000ULL, 0xFFF4000000000123ULL, 0x8000000000000000ULL};
  Wire w;
  w.tag(6).u32(3);
  for (int i = 0; i < 3; ++i) {
    w.str(std::string(1, static_cast<char>('a' + i))).tag(3);
    w.u32(static_cast<uint32_t>(reals[i])).u32(static_cast<uint32_t>(reals[i] >> 32));
  }
  const std::vector<uint8_t> received = w.finish();
  const auto first = decode(received);
  ASSERT_TRUE(first);
  const std::vector<uint8_t> again = encode(*first);
  EXPECT_EQ(again, received);
  const auto second = decode(again);
  ASSERT_TRUE(second);
  EXPECT_EQ(encode(*second), received);
}

TEST(Values, CopyEqualityAndOwnership) {
  FundamentalValue big(static_cast<int64_t>(0x7FFFFFFFFFFFFFFFLL));
  std::unique_ptr<Value> copy(big.deepCopy());
  EXPECT_TRUE(copy->equals(&big));
  int64_t out = 0;
  EXPECT_TRUE(copy->asInt64(&out));
  EXPECT_EQ(out, 0x7FFFFFFFFFFFFFFFLL);
  // No implicit conversions between kinds.
  EXPECT_FALSE(copy->asInteger(nullptr));
  EXPECT_FALSE(FundamentalValue(1).asReal(nullptr));
  EXPECT_FALSE(FundamentalValue(1).equals(&big));
  EXPECT_FALSE(FundamentalValue(int32_t{1}).equals(nullptr));

  // Reals compare as numbers: NaN equals nothing, not even its own copy
  // (what a NaN carries is compared by the encoded bytes instead).
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(FundamentalValue(nan).equals(std::unique_ptr<Value>(FundamentalValue(nan).deepCopy()).get()));
  EXPECT_TRUE(FundamentalValue(0.0).equals(std::unique_ptr<Value>(new FundamentalValue(-0.0)).get()));
  EXPECT_FALSE(FundamentalValue(1.5).equals(std::unique_ptr<Value>(new FundamentalValue(2.5)).get()));

  Value null1, null2;
  EXPECT_TRUE(null1.equals(&null2));
  EXPECT_FALSE(null1.equals(&big));

  StringValue s("\xFF" "a");
  string16 wide;
  EXPECT_TRUE(s.asWideString(&wide));
  EXPECT_EQ(wide, u"\uFFFD" u"a");

  DictionaryValue a, b;
  a.setInteger("x", 1);
  b.setInteger("x", 1);
  EXPECT_TRUE(a.equals(&b));
  b.setInteger("x", 2);  // replaces (and deletes) the old value
  EXPECT_FALSE(a.equals(&b));
  const std::unique_ptr<Value> deep(a.deepCopy());
  a.clear();
  EXPECT_EQ(static_cast<DictionaryValue*>(deep.get())->size(), 1u);
}

}  // namespace
}  // namespace base
