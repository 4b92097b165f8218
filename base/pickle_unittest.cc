#include "base/pickle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "base/file_util.h"
#include "base/logging.h"

namespace base {
namespace {

TEST(Pickle, AlignmentAndGrowth) {
  Pickle p;
  EXPECT_EQ(p.capacity(), 64);
  EXPECT_EQ(p.size(), 4u);
  const uint8_t three[3] = {1, 2, 3};
  p.writeBytes(three, 3);
  EXPECT_EQ(p.payloadSize(), 3u);
  p.writeInt(7);  // starts at offset 4, after zero padding
  EXPECT_EQ(p.payloadSize(), 8u);
  EXPECT_EQ(p.payload()[3], 0);
  EXPECT_EQ(p.payload()[4], 7);

  // 60 bytes fit exactly into 64; one more field doubles to 128; a large one
  // grows straight to what is needed, rounded up to 64.
  Pickle q;
  const std::vector<uint8_t> sixty(60, 0xAB);
  q.writeBytes(sixty.data(), sixty.size());
  EXPECT_EQ(q.capacity(), 64);
  q.writeInt(1);
  EXPECT_EQ(q.capacity(), 128);
  const std::vector<uint8_t> big(1000, 1);
  q.writeBytes(big.data(), big.size());
  EXPECT_EQ(q.capacity(), 1088);  // 4 + 64 + 1000 = 1068 -> 1088
}

TEST(Pickle, ReaderNeverMovesOnFailure) {
  Pickle p;
  p.writeInt(-5);
  p.writeInt64(-6);
  p.writeString("hello");
  Pickle view(p.data(), p.size());
  PickleIterator it(view);
  int32_t i;
  int64_t j;
  std::string s;
  ASSERT_TRUE(it.readInt(&i));
  EXPECT_EQ(i, -5);
  ASSERT_TRUE(it.readInt64(&j));
  EXPECT_EQ(j, -6);
  ASSERT_TRUE(it.readString(&s));
  EXPECT_EQ(s, "hello");
  const size_t end = it.offset();
  EXPECT_FALSE(it.readInt(&i));
  EXPECT_FALSE(it.readInt64(&j));
  EXPECT_FALSE(it.readString(&s));
  EXPECT_EQ(it.offset(), end);
  EXPECT_EQ(i, -5);

  // A declared length larger than what is left fails and does not move.
  Pickle q;
  q.writeInt(100);
  q.writeInt(1);
  Pickle qv(q.data(), q.size());
  PickleIterator qi(qv);
  EXPECT_FALSE(qi.readString(&s));
  EXPECT_EQ(qi.offset(), 0u);
}

TEST(Pickle, ReadOnlyView) {
  // Header size is the byte count minus the declared payload size.
  const uint8_t bytes[] = {0xEE, 0xEE, 4, 0, 0, 0, 9, 0, 0, 0};
  Pickle view(bytes + 2, 8);
  EXPECT_TRUE(view.readOnly());
  EXPECT_EQ(view.headerSize(), 4u);
  PickleIterator it(view);
  int32_t v;
  ASSERT_TRUE(it.readInt(&v));
  EXPECT_EQ(v, 9);

  // Sizes that cannot be true give an empty payload.
  const uint8_t lying[] = {50, 0, 0, 0, 1, 0, 0, 0};
  Pickle bad(lying, sizeof(lying));
  EXPECT_EQ(bad.payloadSize(), 0u);
  Pickle tiny(lying, 2);
  EXPECT_EQ(tiny.payloadSize(), 0u);
}

TEST(Pickle, WritingIntoReadOnlyIsAFatalCheckThatGoesOn) {
  const string16 file = joinPath(currentDirectory(), u"pickle_check.log");
  resetLoggingForTesting();
  ASSERT_TRUE(initLogging(file, kLogToFile, kLockInProcess, 0));
  const uint8_t bytes[] = {4, 0, 0, 0, 1, 0, 0, 0};
  Pickle view(bytes, sizeof(bytes));
  EXPECT_FALSE(view.writeInt(3));
  EXPECT_FALSE(view.writeString("x"));
  EXPECT_EQ(bytes[4], 1);  // untouched
  resetLoggingForTesting();
  std::string text;
  ASSERT_TRUE(readFile(file, &text));
  deleteFile(file);
  EXPECT_NE(text.find("FATAL:pickle.cc("), std::string::npos) << text;
  EXPECT_NE(text.find("Check failed: capacity_ != kCapacityReadOnly. \n"), std::string::npos)
      << text;
}

}  // namespace
}  // namespace base
