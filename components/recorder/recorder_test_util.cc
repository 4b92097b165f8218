#include "components/recorder/recorder_test_util.h"

#include <chrono>
#include <thread>

namespace component {

void ScriptedClock::sleepMs(unsigned ms) {
  int64_t now;
  {
    std::unique_lock<std::mutex> lock(lock_);
    if (nowUs_ >= endUs_) {
      reachedEnd_.notify_all();
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return;
    }
    nowUs_ += static_cast<int64_t>(ms) * 1000;
    now = nowUs_;
  }
  while (!events_.empty() && events_.begin()->first <= now) {
    auto event = std::move(events_.begin()->second);
    events_.erase(events_.begin());
    event();
  }
}

void ScriptedClock::waitForEnd() {
  std::unique_lock<std::mutex> lock(lock_);
  reachedEnd_.wait(lock, [this] { return nowUs_ >= endUs_; });
}

}  // namespace component
