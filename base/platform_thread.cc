#include "base/platform_thread.h"

#include <chrono>
#include <system_error>

#include "base/logging.h"

namespace base {

bool PlatformThread::create(Delegate* delegate, Handle* handle) {
  if (!delegate || !handle) return false;
  handle->join();
  try {
    handle->thread_ = std::thread([delegate] { delegate->threadMain(); });
  } catch (const std::system_error& e) {
    LOG(ERROR) << "Couldn't create thread: " << e.what();
    return false;
  }
  return true;
}

void PlatformThread::sleepMs(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace base
