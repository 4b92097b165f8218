#include "components/recorder/audio_cursor.h"

#include <cstring>

namespace component {

void AudioCursor::reset() {
  base_ = 0;
  reference_ = 0;
  locked_ = false;
}

bool AudioCursor::read(const SampleRing& ring, int16_t* out, size_t count, uint64_t position) {
  std::memset(out, 0, count * sizeof(int16_t));
  uint64_t begin = 0, end = 0;
  if (ring.Range(&begin, &end) != SampleRing::kDone) return false;
  if (begin == end) {
    // Nothing there (the direction is not running or was restarted).
    reset();
    return false;
  }
  if (!locked_) {
    if (end - begin < kLagSamples) return false;
    const uint64_t candidate = end - kLagSamples;
    // Never go back over audio already recorded.
    if (candidate < base_) return false;
    base_ = candidate;
    reference_ = position;
    locked_ = true;
  }
  if (end > base_ && end - base_ > kMaxLagSamples) {
    // Fallen too far behind: lock again next time, 100 ms behind.
    locked_ = false;
    return false;
  }
  if (position < reference_) {
    reset();
    return false;
  }
  base_ += position - reference_;
  reference_ = position;
  const int result = ring.Read(out, count, base_);
  if (result != SampleRing::kDone) {
    locked_ = false;
    return false;
  }
  base_ += count;
  reference_ = position + count;
  return true;
}

}  // namespace component
