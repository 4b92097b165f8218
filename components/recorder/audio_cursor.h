// AudioCursor: reads one audio direction for the recorder about 100 ms
// behind the newest samples of its ring. The recorder asks for positions on
// its own clock; the cursor ties them to the ring's positions when enough
// audio has arrived and lets go (silence) when the direction drifts more
// than 200 ms or stops, so each side is re-synchronised on its own.
//
// Thread: the recorder's capture thread (the ring's reader).
#ifndef COMPONENTS_RECORDER_AUDIO_CURSOR_H_
#define COMPONENTS_RECORDER_AUDIO_CURSOR_H_

#include <cstddef>
#include <cstdint>

#include "components/audio/sample_ring.h"

namespace component {

class AudioCursor {
 public:
  // 100 ms and 200 ms at 48 kHz.
  static constexpr uint64_t kLagSamples = 4800;
  static constexpr uint64_t kMaxLagSamples = 9600;

  // Fills `out` with `count` samples for the recorder's position
  // `position`: audio from `ring` when the cursor is (or can be) locked,
  // silence otherwise. Returns whether any audio was read.
  bool read(const SampleRing& ring, int16_t* out, size_t count, uint64_t position);
  void reset();

  bool locked() const { return locked_; }
  uint64_t base() const { return base_; }
  uint64_t reference() const { return reference_; }

 private:
  uint64_t base_ = 0;
  uint64_t reference_ = 0;
  bool locked_ = false;
};

}  // namespace component

#endif  // COMPONENTS_RECORDER_AUDIO_CURSOR_H_
