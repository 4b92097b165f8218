#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "components/audio/audio_clock.h"

namespace component {
namespace {

// timeGetTime() wraps after 49.7 days; the clock widens it to 64 bits so
// differences stay right across the wrap.
class SystemClock : public AudioClock {
 public:
  int64_t nowUs() override {
    const uint32_t now = timeGetTime();
    uint64_t last = last_.load(std::memory_order_acquire);
    for (;;) {
      uint64_t widened = (last & ~uint64_t{0xFFFFFFFFu}) | now;
      if (widened + 0x80000000u < last) widened += uint64_t{1} << 32;  // wrapped since `last`
      if (widened <= last) return static_cast<int64_t>(last) * 1000;
      if (last_.compare_exchange_weak(last, widened, std::memory_order_acq_rel))
        return static_cast<int64_t>(widened) * 1000;
    }
  }
  void sleepMs(unsigned ms) override { Sleep(ms); }

 private:
  std::atomic<uint64_t> last_{timeGetTime()};
};

}  // namespace

AudioClock* AudioClock::system() {
  static SystemClock* clock = new SystemClock;
  return clock;
}

}  // namespace component
