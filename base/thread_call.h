// Runs code on the thread that created the ThreadCall: post() (from any
// thread) sends a message to a hidden window of that thread, whose handler
// calls the delegate's run(). Callers that must not flood the window post
// only while isPending() is false. Destroying the ThreadCall discards a call
// that has not run yet.
#ifndef BASE_THREAD_CALL_H_
#define BASE_THREAD_CALL_H_

#include <atomic>
#include <memory>

#include "base/message_loop.h"

namespace base {

class ThreadCall : public MessageWindow::Handler {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    virtual void run() {}
  };

  static constexpr const char16_t* kWindowClass = u"com.quillonlabs.thread_call";

  // Construct on the thread that is to run the calls. `delegate` is not owned.
  explicit ThreadCall(Delegate* delegate);
  ~ThreadCall() override;
  ThreadCall(const ThreadCall&) = delete;
  ThreadCall& operator=(const ThreadCall&) = delete;

  // Any thread.
  void post();
  bool isPending() const { return pending_.load(std::memory_order_acquire); }

 private:
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) override;

  Delegate* delegate_;
  std::atomic<bool> pending_{false};
  std::unique_ptr<MessageWindow> window_;
};

}  // namespace base

#endif  // BASE_THREAD_CALL_H_
