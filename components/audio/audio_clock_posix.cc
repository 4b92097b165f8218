#include <chrono>
#include <thread>

#include "components/audio/audio_clock.h"

namespace component {
namespace {

class SystemClock : public AudioClock {
 public:
  int64_t nowUs() override {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void sleepMs(unsigned ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

AudioClock* AudioClock::system() {
  static SystemClock* clock = new SystemClock;
  return clock;
}

}  // namespace component
