// A kernel-style event for the bridge: set from any thread (also from a
// sound device's callback thread, where it neither blocks nor allocates on
// Windows), waited for alone or together with a second one.
//
// Windows: an event object. Linux: a flag under one process-wide condition
// variable (the Linux device threads are our own, so they may take a lock).
#ifndef PC_AUDIO_DRV_WAITABLE_EVENT_H_
#define PC_AUDIO_DRV_WAITABLE_EVENT_H_

#include <memory>

class WaitableEvent {
 public:
  WaitableEvent(bool manualReset, bool initiallySet);
  ~WaitableEvent();
  WaitableEvent(const WaitableEvent&) = delete;
  WaitableEvent& operator=(const WaitableEvent&) = delete;

  void set();
  void reset();
  bool isSet();  // for manual-reset events (an auto-reset one would be taken)

  // Waits without time-out until either is set; returns 0 or 1 for the one
  // that ended the wait (an auto-reset one is cleared), -1 on failure.
  static int waitAny(WaitableEvent* first, WaitableEvent* second);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

#endif  // PC_AUDIO_DRV_WAITABLE_EVENT_H_
