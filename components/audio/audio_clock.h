// AudioClock: the time the audio paths pace themselves by, in microseconds
// of the system millisecond clock (Windows: timeGetTime() x 1000, widened
// to 64 bits; Linux: the monotonic clock). Tests hand in their own clock so
// pacing, ageing and time-outs can be driven without sleeping.
//
// Thread: any; an implementation must allow calls from several threads.
#ifndef COMPONENTS_AUDIO_AUDIO_CLOCK_H_
#define COMPONENTS_AUDIO_AUDIO_CLOCK_H_

#include <cstdint>

namespace component {

class AudioClock {
 public:
  virtual ~AudioClock() = default;
  virtual int64_t nowUs() = 0;
  virtual void sleepMs(unsigned ms) = 0;

  // The process-wide real clock (never destroyed).
  static AudioClock* system();
};

}  // namespace component

#endif  // COMPONENTS_AUDIO_AUDIO_CLOCK_H_
