#include "components/audio/sample_ring.h"

#include <algorithm>
#include <limits>

namespace component {

SampleRing::SampleRing() { Setup(); }

SampleRing::~SampleRing() = default;

void SampleRing::Setup() {
  storage_.reset();
  storage_.reset(new std::atomic<int16_t>[kCapacityFrames]);
  for (size_t i = 0; i < kCapacityFrames; ++i)
    storage_[i].store(0, std::memory_order_relaxed);
  for (Entry& entry : history_) {
    entry.sequence.store(0, std::memory_order_relaxed);
    entry.begin.store(0, std::memory_order_relaxed);
    entry.end.store(0, std::memory_order_relaxed);
  }
  begin_ = 0;
  end_ = 0;
  sequence_.store(0, std::memory_order_release);
}

void SampleRing::Publish(uint64_t begin, uint64_t end) {
  uint32_t current = sequence_.load(std::memory_order_relaxed);
  const uint32_t next = current + 1;
  Entry& entry = history_[next % kHistorySize];
  // The new sequence goes in first: a reader still looking at this slot for
  // an older sequence sees the change and retries.
  entry.sequence.store(next, std::memory_order_relaxed);
  entry.begin.store(begin, std::memory_order_release);
  entry.end.store(end, std::memory_order_release);
  // Only this thread changes the counter, so the exchange always succeeds;
  // it is what makes the entry visible to readers.
  sequence_.compare_exchange_strong(current, next, std::memory_order_acq_rel,
                                    std::memory_order_relaxed);
  begin_ = begin;
  end_ = end;
}

int SampleRing::Range(uint64_t* begin, uint64_t* end) const {
  for (int attempt = 0; attempt < kRangeTries; ++attempt) {
    const uint32_t current = sequence_.load(std::memory_order_acquire);
    const Entry& entry = history_[current % kHistorySize];
    const uint32_t before = entry.sequence.load(std::memory_order_acquire);
    const uint64_t b = entry.begin.load(std::memory_order_acquire);
    const uint64_t e = entry.end.load(std::memory_order_acquire);
    const uint32_t after = entry.sequence.load(std::memory_order_acquire);
    if (before == current && after == current) {
      *begin = b;
      *end = e;
      return kDone;
    }
  }
  return kNoConsistentRange;
}

void SampleRing::Fill(uint64_t from, uint64_t to, const int16_t* samples) {
  for (uint64_t p = from; p < to; ++p) {
    const int16_t value = samples ? samples[p - from] : int16_t{0};
    storage_[p & kMask].store(value, std::memory_order_release);
  }
}

void SampleRing::Copy(int16_t* destination, uint64_t from, uint64_t to) const {
  for (uint64_t p = from; p < to; ++p)
    destination[p - from] = storage_[p & kMask].load(std::memory_order_acquire);
}

int SampleRing::Write(const int16_t* samples, size_t count, uint64_t position) {
  if (count > kCapacityFrames) return kTooLarge;
  if (count > 0 && !samples) return kTooLarge;  // nothing written
  if (position > std::numeric_limits<uint64_t>::max() - count)
    return kTooLarge;
  const uint64_t next = position + count;

  if (position >= end_) {
    // Appending, maybe after a gap: take back what is about to be
    // overwritten before touching it.
    if (next - begin_ > kCapacityFrames) {
      const uint64_t first = next - kCapacityFrames;
      Publish(first, std::max(end_, first));
    }
  } else {
    // The writer went back: start over from here.
    Publish(position, position);
  }
  if (position > end_) Fill(end_, position, nullptr);
  Fill(position, next, samples);
  Publish(begin_, next);
  return kDone;
}

int SampleRing::Read(int16_t* destination, size_t count,
                     uint64_t position) const {
  if (count > 0 && !destination) return kNoOverlap;
  uint64_t begin = 0, end = 0;
  const int range = Range(&begin, &end);
  if (range != kDone) return range;

  const uint64_t request_end =
      position > std::numeric_limits<uint64_t>::max() - count
          ? std::numeric_limits<uint64_t>::max()
          : position + count;
  const uint64_t s = std::max(position, begin);
  const uint64_t t = std::max(std::min(request_end, end), s);
  if (position >= t) return kNotYetThere;
  if (request_end <= s) return kAlreadyOverwritten;
  if (s == t) {
    std::fill(destination, destination + count, int16_t{0});
    return kNoOverlap;
  }

  std::fill(destination, destination + (s - position), int16_t{0});
  std::fill(destination + (t - position), destination + count, int16_t{0});
  Copy(destination + (s - position), s, t);

  // A writer that recycled part of [s, t) while we copied has published the
  // shortened range first; whatever is no longer inside the latest range
  // becomes silence rather than another position's sample.
  uint64_t now_begin = 0, now_end = 0;
  if (Range(&now_begin, &now_end) != kDone) {
    std::fill(destination, destination + count, int16_t{0});
    return kNoConsistentRange;
  }
  if (now_begin > s || now_end < t) {
    for (uint64_t p = s; p < t; ++p) {
      if (p < now_begin || p >= now_end) destination[p - position] = 0;
    }
  }
  return kDone;
}

}  // namespace component
