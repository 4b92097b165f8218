// The pacing primitives of the sound device link, one per platform: a stop
// event both device threads wait on, and a periodic 10 ms timer whose ticks
// wake a thread. Windows: a manual-reset event and a multimedia timer
// (timeSetEvent with TIME_CALLBACK_EVENT_SET) at the finest timer
// resolution; Linux: a condition variable and absolute 10 ms deadlines.
//
// Thread: the stop event may be set from any thread; a timer belongs to the
// thread that made it.
#ifndef COMPONENTS_AUDIO_LINK_TIMER_H_
#define COMPONENTS_AUDIO_LINK_TIMER_H_

#include <memory>

namespace component {

class LinkStopEvent {
 public:
  virtual ~LinkStopEvent() = default;
  virtual void set() = 0;
  virtual bool isSet() const = 0;
  static std::unique_ptr<LinkStopEvent> create();
};

class LinkTimer {
 public:
  static constexpr unsigned kPeriodMs = 10;
  virtual ~LinkTimer() = default;
  // Blocks until the next tick (true) or until `stop` is set (false).
  virtual bool wait() = 0;
  // A timer for the calling thread; null (logged) when the system has none.
  static std::unique_ptr<LinkTimer> create(LinkStopEvent* stop);
};

// The device threads run above normal priority where the system lets them.
void raiseLinkThreadPriority();

}  // namespace component

#endif  // COMPONENTS_AUDIO_LINK_TIMER_H_
