#include <chrono>
#include <condition_variable>
#include <mutex>

#include "components/audio/link_timer.h"

namespace component {
namespace {

class PosixStopEvent : public LinkStopEvent {
 public:
  void set() override {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    changed_.notify_all();
  }
  bool isSet() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
  }
  // False once set; true when `deadline` passed first.
  bool waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_until(lock, deadline, [this] { return set_; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

class PosixTimer : public LinkTimer {
 public:
  explicit PosixTimer(PosixStopEvent* stop) : stop_(stop), next_(std::chrono::steady_clock::now() + kPeriod) {}
  bool wait() override {
    if (!stop_->waitUntil(next_)) return false;
    next_ += kPeriod;
    // Like a periodic timer, ticks missed while the thread was away are
    // not delivered in a burst, and the ticks stay on their grid: moving
    // it would move where the render side's ticks fall against its blocks.
    const auto now = std::chrono::steady_clock::now();
    if (next_ <= now) next_ += ((now - next_) / kPeriod + 1) * kPeriod;
    return true;
  }

 private:
  static constexpr std::chrono::milliseconds kPeriod{kPeriodMs};
  PosixStopEvent* stop_;
  std::chrono::steady_clock::time_point next_;
};

}  // namespace

std::unique_ptr<LinkStopEvent> LinkStopEvent::create() { return std::make_unique<PosixStopEvent>(); }

std::unique_ptr<LinkTimer> LinkTimer::create(LinkStopEvent* stop) {
  return std::make_unique<PosixTimer>(static_cast<PosixStopEvent*>(stop));
}

// Real-time priorities need privileges a desktop user lacks; the 10 ms
// cadence holds without them.
void raiseLinkThreadPriority() {}

}  // namespace component
