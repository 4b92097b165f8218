#include <windows.h>
#include <mmsystem.h>

#include "base/logging.h"
#include "components/audio/link_timer.h"

namespace component {
namespace {

class WinStopEvent : public LinkStopEvent {
 public:
  WinStopEvent() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~WinStopEvent() override {
    if (event_) CloseHandle(event_);
  }
  void set() override { SetEvent(event_); }
  bool isSet() const override { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }
  HANDLE handle() const { return event_; }

 private:
  HANDLE event_;
};

class WinTimer : public LinkTimer {
 public:
  explicit WinTimer(WinStopEvent* stop) : stop_(stop) {}
  ~WinTimer() override {
    if (timer_) timeKillEvent(timer_);
    if (tick_) CloseHandle(tick_);
    if (period_) timeEndPeriod(period_);
  }
  bool start() {
    TIMECAPS caps = {};
    if (timeGetDevCaps(&caps, sizeof(caps)) == TIMERR_NOERROR && timeBeginPeriod(caps.wPeriodMin) == TIMERR_NOERROR)
      period_ = caps.wPeriodMin;
    tick_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!tick_) return false;
    timer_ = timeSetEvent(kPeriodMs, period_, reinterpret_cast<LPTIMECALLBACK>(tick_), 0,
                          TIME_PERIODIC | TIME_CALLBACK_EVENT_SET);
    return timer_ != 0;
  }
  bool wait() override {
    const HANDLE handles[2] = {stop_->handle(), tick_};
    return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
  }

 private:
  WinStopEvent* stop_;
  UINT period_ = 0;
  HANDLE tick_ = nullptr;
  MMRESULT timer_ = 0;
};

}  // namespace

std::unique_ptr<LinkStopEvent> LinkStopEvent::create() { return std::make_unique<WinStopEvent>(); }

std::unique_ptr<LinkTimer> LinkTimer::create(LinkStopEvent* stop) {
  auto timer = std::make_unique<WinTimer>(static_cast<WinStopEvent*>(stop));
  if (!timer->start()) {
    LOG(ERROR) << "Couldn't start the multimedia timer: " << GetLastError();
    return nullptr;
  }
  return timer;
}

void raiseLinkThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL); }

}  // namespace component
