// Linux: a helper thread whose body polls its descriptors together with a
// stop event, and returns once that event is readable. stop() sets the event
// and joins; the destructor stops.
#ifndef WEBCAMWIN_STOPPABLE_THREAD_POSIX_H_
#define WEBCAMWIN_STOPPABLE_THREAD_POSIX_H_

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

#include "base/platform_thread.h"

class StoppableThread : private base::PlatformThread::Delegate {
 public:
  StoppableThread() = default;
  ~StoppableThread() override { stop(); }
  StoppableThread(const StoppableThread&) = delete;
  StoppableThread& operator=(const StoppableThread&) = delete;

  // `body` gets the stop event's descriptor. False when no thread started.
  bool start(std::function<void(int stopFd)> body) {
    if (stopFd_ >= 0) return false;
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopFd_ < 0) return false;
    body_ = std::move(body);
    if (!base::PlatformThread::create(this, &thread_)) {
      ::close(stopFd_);
      stopFd_ = -1;
      return false;
    }
    return true;
  }

  void stop() {
    if (stopFd_ < 0) return;
    const uint64_t one = 1;
    ssize_t written = ::write(stopFd_, &one, sizeof(one));
    (void)written;
    thread_.join();
    ::close(stopFd_);
    stopFd_ = -1;
  }

 private:
  void threadMain() override { body_(stopFd_); }

  int stopFd_ = -1;
  std::function<void(int)> body_;
  base::PlatformThread::Handle thread_;
};

#endif  // WEBCAMWIN_STOPPABLE_THREAD_POSIX_H_
