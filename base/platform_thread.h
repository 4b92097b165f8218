// Worker threads: the body is a PlatformThread::Delegate; a thread is started
// with create() and must be joined before its delegate goes away.
#ifndef BASE_PLATFORM_THREAD_H_
#define BASE_PLATFORM_THREAD_H_

#include <memory>
#include <thread>

namespace base {

class PlatformThread {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    virtual void threadMain() = 0;
  };

  // An owning handle; destroying a joinable handle joins it.
  class Handle {
   public:
    Handle() = default;
    ~Handle() { join(); }
    Handle(Handle&&) = default;
    Handle& operator=(Handle&& other) {
      join();
      thread_ = std::move(other.thread_);
      return *this;
    }
    bool joinable() const { return thread_.joinable(); }
    void join() {
      if (thread_.joinable()) thread_.join();
    }

   private:
    friend class PlatformThread;
    std::thread thread_;
  };

  // Starts a thread running delegate->threadMain(). False when the system
  // could not create it.
  static bool create(Delegate* delegate, Handle* handle);
  static void join(Handle* handle) { handle->join(); }
  static void sleepMs(unsigned ms);
};

}  // namespace base

#endif  // BASE_PLATFORM_THREAD_H_
