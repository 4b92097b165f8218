// SampleRing: a fixed circular store of 16-bit mono samples in which every
// sample has an absolute 64-bit position (samples since the stream began, at
// 48 kHz). One thread writes at the positions it knows; any number of other
// threads read stretches of positions and get silence for what is missing.
//
// Threads: Setup() before the ring is shared (no writer or reader running);
// Write() from one writer thread only; Read() and Range() from any thread.
// Write() and Read() take no lock, allocate nothing and make no system call:
// they run on the sound device's real-time threads every 10 ms.
#ifndef COMPONENTS_AUDIO_SAMPLE_RING_H_
#define COMPONENTS_AUDIO_SAMPLE_RING_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace component {

class SampleRing {
 public:
  // Result codes of Write(), Read() and Range().
  static constexpr int kDone = 0;
  static constexpr int kTooLarge = 3;            // write larger than capacity
  static constexpr int kNoConsistentRange = 4;   // 8 tries failed
  static constexpr int kNoOverlap = 5;           // destination all silence
  static constexpr int kAlreadyOverwritten = 6;  // request ends before data
  static constexpr int kNotYetThere = 7;         // request starts after data

  // One second at 48 kHz rounded up to a power of two.
  static constexpr size_t kCapacityFrames = 65536;
  static constexpr size_t kChannels = 1;
  static constexpr size_t kBytesPerFrame = 2;
  static constexpr size_t kHistorySize = 32;
  static constexpr int kRangeTries = 8;

  SampleRing();  // calls Setup()
  ~SampleRing();
  SampleRing(const SampleRing&) = delete;
  SampleRing& operator=(const SampleRing&) = delete;

  // Allocates (or re-zeroes) the storage and empties the range to [0, 0).
  // Not to be called while other threads use the ring.
  void Setup();

  // Stores `count` samples at positions p ... p + count - 1. Single writer.
  int Write(const int16_t* samples, size_t count, uint64_t position);

  // Fills `count` samples for positions p ... p + count - 1; positions
  // outside the valid range come out as silence.
  int Read(int16_t* destination, size_t count, uint64_t position) const;

  // The valid positions begin <= p < end.
  int Range(uint64_t* begin, uint64_t* end) const;

 private:
  static constexpr uint64_t kMask = kCapacityFrames - 1;

  // One published range. `sequence` is stored first (with the new value)
  // and the bounds after it with release semantics, so a reader that sees
  // the same sequence before and after loading the bounds has a consistent
  // copy.
  struct Entry {
    std::atomic<uint32_t> sequence{0};
    std::atomic<uint64_t> begin{0};
    std::atomic<uint64_t> end{0};
  };

  void Publish(uint64_t begin, uint64_t end);
  void Fill(uint64_t from, uint64_t to, const int16_t* samples);
  void Copy(int16_t* destination, uint64_t from, uint64_t to) const;

  // Samples are atomics (plain moves on x86) so that a reader racing the
  // writer on a stretch being recycled is well defined; Read() then checks
  // the range again and silences whatever the writer took back.
  std::unique_ptr<std::atomic<int16_t>[]> storage_;
  Entry history_[kHistorySize];
  std::atomic<uint32_t> sequence_{0};

  // The writer's own copy of the current range.
  uint64_t begin_ = 0;
  uint64_t end_ = 0;
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_SAMPLE_RING_H_
