#include <condition_variable>
#include <mutex>

#include "PC_Audio_DRV/waitable_event.h"

namespace {
std::mutex& eventMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::condition_variable& eventCv() {
  static std::condition_variable* cv = new std::condition_variable;
  return *cv;
}
}  // namespace

struct WaitableEvent::Impl {
  bool manual = false;
  bool set = false;
};

WaitableEvent::WaitableEvent(bool manualReset, bool initiallySet) : impl_(new Impl) {
  impl_->manual = manualReset;
  impl_->set = initiallySet;
}

WaitableEvent::~WaitableEvent() = default;

void WaitableEvent::set() {
  std::lock_guard<std::mutex> lock(eventMutex());
  impl_->set = true;
  eventCv().notify_all();
}

void WaitableEvent::reset() {
  std::lock_guard<std::mutex> lock(eventMutex());
  impl_->set = false;
}

bool WaitableEvent::isSet() {
  std::lock_guard<std::mutex> lock(eventMutex());
  return impl_->set;
}

int WaitableEvent::waitAny(WaitableEvent* first, WaitableEvent* second) {
  std::unique_lock<std::mutex> lock(eventMutex());
  for (;;) {
    Impl* events[2] = {first->impl_.get(), second->impl_.get()};
    for (int i = 0; i < 2; ++i) {
      if (events[i]->set) {
        if (!events[i]->manual) events[i]->set = false;
        return i;
      }
    }
    eventCv().wait(lock);
  }
}
