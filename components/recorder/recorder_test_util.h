// A clock for the recorder's tests: the capture thread's sleeps move it on,
// scheduled deliveries (frames, audio packets) happen at their times on the
// capture thread, and at the end time it stands still until the test stops
// the recording, so every run writes exactly the same slots.
#ifndef COMPONENTS_RECORDER_RECORDER_TEST_UTIL_H_
#define COMPONENTS_RECORDER_RECORDER_TEST_UTIL_H_

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

#include "components/audio/audio_clock.h"

namespace component {

class ScriptedClock : public AudioClock {
 public:
  explicit ScriptedClock(int64_t endUs) : endUs_(endUs) {}

  // Runs `event` on the first sleep that reaches `atUs` (from the start).
  void at(int64_t atUs, std::function<void()> event) { events_.emplace(atUs, std::move(event)); }
  int64_t nowUs() override {
    std::lock_guard<std::mutex> lock(lock_);
    return nowUs_;
  }
  void sleepMs(unsigned ms) override;
  // From an event: time jumps on, as when the capture thread was held up.
  void advance(int64_t us) {
    std::lock_guard<std::mutex> lock(lock_);
    nowUs_ += us;
  }
  // Waits until the clock reached its end.
  void waitForEnd();

 private:
  std::mutex lock_;
  std::condition_variable reachedEnd_;
  int64_t nowUs_ = 0;
  const int64_t endUs_;
  std::multimap<int64_t, std::function<void()>> events_;
};

}  // namespace component

#endif  // COMPONENTS_RECORDER_RECORDER_TEST_UTIL_H_
