#include "base/thread_call.h"

namespace base {

ThreadCall::ThreadCall(Delegate* delegate)
    : delegate_(delegate), window_(std::make_unique<MessageWindow>(kWindowClass, this)) {}

ThreadCall::~ThreadCall() { window_.reset(); }

void ThreadCall::post() {
  pending_.store(true, std::memory_order_release);
  window_->post(kMsgUser);
}

void ThreadCall::onWindowMessage(uint32_t msg, uintptr_t, intptr_t) {
  if (msg != kMsgUser) return;
  if (delegate_) delegate_->run();
  pending_.store(false, std::memory_order_release);
}

}  // namespace base
