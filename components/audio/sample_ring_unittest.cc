#include "components/audio/sample_ring.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace component {
namespace {

// A value that identifies its position and is never silence.
int16_t ValueAt(uint64_t p) {
  return static_cast<int16_t>(((p * 2654435761u) >> 13) | 1u);
}

std::vector<int16_t> Values(uint64_t from, size_t count) {
  std::vector<int16_t> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = ValueAt(from + i);
  return v;
}

void WriteValues(SampleRing* ring, uint64_t from, size_t count) {
  const std::vector<int16_t> v = Values(from, count);
  ASSERT_EQ(SampleRing::kDone, ring->Write(v.data(), count, from));
}

void ExpectRange(const SampleRing& ring, uint64_t begin, uint64_t end) {
  uint64_t b = 1, e = 1;
  ASSERT_EQ(SampleRing::kDone, ring.Range(&b, &e));
  EXPECT_EQ(begin, b);
  EXPECT_EQ(end, e);
}

TEST(SampleRingTest, NewRingIsEmptyAndReadsNothing) {
  SampleRing ring;
  ExpectRange(ring, 0, 0);
  std::vector<int16_t> out(10, 7);
  EXPECT_EQ(SampleRing::kNotYetThere, ring.Read(out.data(), out.size(), 0));
}

TEST(SampleRingTest, ReadBeforeValidRangeGetsSilenceThenData) {
  SampleRing ring;
  WriteValues(&ring, 0, 1000);
  WriteValues(&ring, 150, 150);  // back in time: restart at 150
  ExpectRange(ring, 150, 300);
  std::vector<int16_t> out(100, 7);
  EXPECT_EQ(SampleRing::kDone, ring.Read(out.data(), 100, 100));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(0, out[i]) << i;
  for (int i = 50; i < 100; ++i) EXPECT_EQ(ValueAt(100 + i), out[i]) << i;
}

TEST(SampleRingTest, ReadPastTheEndGetsSilenceAfterData) {
  SampleRing ring;
  WriteValues(&ring, 0, 300);
  std::vector<int16_t> out(100, 7);
  EXPECT_EQ(SampleRing::kDone, ring.Read(out.data(), 100, 250));
  for (int i = 0; i < 50; ++i) EXPECT_EQ(ValueAt(250 + i), out[i]);
  for (int i = 50; i < 100; ++i) EXPECT_EQ(0, out[i]);
}

TEST(SampleRingTest, WriteAfterAGapFillsTheGapWithSilence) {
  SampleRing ring;
  WriteValues(&ring, 1000, 480);
  ExpectRange(ring, 0, 1480);
  std::vector<int16_t> out(1480, 7);
  EXPECT_EQ(SampleRing::kDone, ring.Read(out.data(), out.size(), 0));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(0, out[i]) << i;
  for (int i = 1000; i < 1480; ++i) ASSERT_EQ(ValueAt(i), out[i]) << i;
}

TEST(SampleRingTest, GapAcrossRecycledStorageIsSilenceNotOldData) {
  SampleRing ring;
  WriteValues(&ring, 0, SampleRing::kCapacityFrames);
  ExpectRange(ring, 0, SampleRing::kCapacityFrames);
  WriteValues(&ring, 70000, 100);
  ExpectRange(ring, 70100 - SampleRing::kCapacityFrames, 70100);
  std::vector<int16_t> out(70000 - SampleRing::kCapacityFrames, 7);
  EXPECT_EQ(SampleRing::kDone,
            ring.Read(out.data(), out.size(), SampleRing::kCapacityFrames));
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(0, out[i]) << i;
}

TEST(SampleRingTest, WriteLargerThanCapacityIsRefused) {
  SampleRing ring;
  WriteValues(&ring, 0, 100);
  std::vector<int16_t> big(70000, 1);
  EXPECT_EQ(SampleRing::kTooLarge, ring.Write(big.data(), big.size(), 100));
  ExpectRange(ring, 0, 100);
  // Exactly the capacity is fine.
  EXPECT_EQ(SampleRing::kDone,
            ring.Write(big.data(), SampleRing::kCapacityFrames, 100));
}

TEST(SampleRingTest, WritingBackRestartsTheRange) {
  SampleRing ring;
  WriteValues(&ring, 0, 5000);
  WriteValues(&ring, 2000, 480);
  ExpectRange(ring, 2000, 2480);
  std::vector<int16_t> out(10);
  EXPECT_EQ(SampleRing::kAlreadyOverwritten, ring.Read(out.data(), 10, 100));
}

TEST(SampleRingTest, InOrderWritesKeepTheLastCapacitySamples) {
  SampleRing ring;
  uint64_t p = 0;
  while (p < 100000) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(480, 100000 - p));
    WriteValues(&ring, p, n);
    p += n;
  }
  ExpectRange(ring, 34464, 100000);
  std::vector<int16_t> out(200);
  EXPECT_EQ(SampleRing::kDone, ring.Read(out.data(), 200, 34464));
  EXPECT_EQ(Values(34464, 200), out);
  EXPECT_EQ(SampleRing::kDone, ring.Read(out.data(), 200, 99800));
  EXPECT_EQ(Values(99800, 200), out);
  EXPECT_EQ(SampleRing::kAlreadyOverwritten, ring.Read(out.data(), 200, 34000));
  EXPECT_EQ(SampleRing::kNotYetThere, ring.Read(out.data(), 200, 100000));
}

// The storage holds exactly kCapacityFrames positions: one sample more and
// the oldest is given up, never read back as the newest one sharing its slot.
TEST(SampleRingTest, TheRingHoldsExactlyItsCapacityAtTheEdge) {
  constexpr uint64_t kCap = SampleRing::kCapacityFrames;
  SampleRing ring;
  WriteValues(&ring, 0, kCap);
  ExpectRange(ring, 0, kCap);
  std::vector<int16_t> out(2);
  ASSERT_EQ(SampleRing::kDone, ring.Read(out.data(), 2, 0));
  EXPECT_EQ(Values(0, 2), out);

  WriteValues(&ring, kCap, 1);  // shares position 0's slot
  ExpectRange(ring, 1, kCap + 1);
  ASSERT_EQ(SampleRing::kDone, ring.Read(out.data(), 2, 0));
  EXPECT_EQ((std::vector<int16_t>{0, ValueAt(1)}), out);
  EXPECT_EQ(SampleRing::kAlreadyOverwritten, ring.Read(out.data(), 1, 0));
  std::vector<int16_t> all(kCap);
  ASSERT_EQ(SampleRing::kDone, ring.Read(all.data(), kCap, 1));
  EXPECT_EQ(Values(1, kCap), all);

  // A jump ahead gives up just as many: the gap counts as held positions.
  WriteValues(&ring, kCap + 10, 1);
  ExpectRange(ring, 11, kCap + 11);
  ASSERT_EQ(SampleRing::kDone, ring.Read(out.data(), 2, 10));
  EXPECT_EQ((std::vector<int16_t>{0, ValueAt(11)}), out);
  ASSERT_EQ(SampleRing::kDone, ring.Read(out.data(), 2, kCap + 1));
  EXPECT_EQ((std::vector<int16_t>{0, 0}), out);  // the gap is silence
}

TEST(SampleRingTest, EmptyRangeInsideARequestGivesSilence) {
  SampleRing ring;
  WriteValues(&ring, 0, 500);
  EXPECT_EQ(SampleRing::kDone, ring.Write(nullptr, 0, 100));  // restart, empty
  ExpectRange(ring, 100, 100);
  std::vector<int16_t> out(100, 7);
  EXPECT_EQ(SampleRing::kNoOverlap, ring.Read(out.data(), 100, 50));
  EXPECT_EQ(std::vector<int16_t>(100, 0), out);
}

TEST(SampleRingTest, SetupEmptiesTheRing) {
  SampleRing ring;
  WriteValues(&ring, 0, 500);
  ring.Setup();
  ExpectRange(ring, 0, 0);
  WriteValues(&ring, 10, 10);
  std::vector<int16_t> out(10, 7);
  EXPECT_EQ(SampleRing::kDone, ring.Read(out.data(), 10, 0));
  EXPECT_EQ(std::vector<int16_t>(10, 0), out);  // not the old samples
}

TEST(SampleRingTest, BadArgumentsDoNotCrash) {
  SampleRing ring;
  EXPECT_EQ(SampleRing::kTooLarge, ring.Write(nullptr, 10, 0));
  WriteValues(&ring, 0, 10);
  EXPECT_NE(SampleRing::kDone, ring.Read(nullptr, 10, 0));
  int16_t one = 1;
  EXPECT_EQ(SampleRing::kTooLarge, ring.Write(&one, 1, ~uint64_t{0}));
  std::vector<int16_t> out(10, 7);
  EXPECT_EQ(SampleRing::kNotYetThere,
            ring.Read(out.data(), out.size(), ~uint64_t{0} - 3));
}

// One writer well above audio rate (so the storage is recycled many times)
// against two readers asking for stretches before, inside and after the
// valid data: every sample a reader gets is silence or the very sample that
// was written at its position.
TEST(SampleRingTest, ConcurrentReadersSeeOnlyTheirPositionsOrSilence) {
  SampleRing ring;
  constexpr size_t kBlock = 480;
  constexpr uint64_t kTotal = 1500 * kBlock;  // ~11 wraps of the storage
  std::atomic<uint64_t> written{0};
  std::atomic<bool> done{false};
  std::atomic<uint64_t> bad{0}, data_reads{0};
  std::atomic<int> readers_ready{0};

  std::thread writer([&] {
    // Start only when both readers run (threads start slowly under Wine).
    while (readers_ready.load() < 2) std::this_thread::yield();
    std::vector<int16_t> block(kBlock);
    for (uint64_t p = 0; p < kTotal; p += kBlock) {
      for (size_t i = 0; i < kBlock; ++i) block[i] = ValueAt(p + i);
      ring.Write(block.data(), kBlock, p);
      written.store(p + kBlock, std::memory_order_relaxed);
      // Whole milliseconds: shorter sleeps round down to none on Windows.
      if ((p / kBlock) % 16 == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done.store(true);
  });

  auto reader = [&](uint64_t back) {
    std::vector<int16_t> out(2 * kBlock);
    uint32_t seed = static_cast<uint32_t>(back);
    readers_ready.fetch_add(1);
    while (!done.load()) {
      seed = seed * 1664525u + 1013904223u;
      const uint64_t head = written.load(std::memory_order_relaxed);
      // From well before the oldest kept sample to a little past the head.
      const uint64_t span = SampleRing::kCapacityFrames + back;
      const uint64_t offset = seed % span;
      const uint64_t p = head + kBlock > offset ? head + kBlock - offset : 0;
      const int code = ring.Read(out.data(), out.size(), p);
      if (code != SampleRing::kDone) continue;
      data_reads.fetch_add(1, std::memory_order_relaxed);
      for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] != 0 && out[i] != ValueAt(p + i))
          bad.fetch_add(1, std::memory_order_relaxed);
      }
    }
  };
  std::thread reader1(reader, 4 * kBlock);
  std::thread reader2(reader, 40 * kBlock);
  writer.join();
  reader1.join();
  reader2.join();
  EXPECT_EQ(0u, bad.load()) << "in " << data_reads.load() << " reads";
  EXPECT_GT(data_reads.load(), 100u);
  ExpectRange(ring, kTotal - SampleRing::kCapacityFrames, kTotal);
}

}  // namespace
}  // namespace component
