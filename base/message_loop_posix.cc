// Linux message loop: one LoopCore per thread holds the posted-message queue
// (guarded, fed from any thread and woken through an eventfd), the thread's
// windows with their timers, and the socket selections polled each turn.
#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "base/logging.h"
#include "base/message_loop.h"
#include "base/message_loop_internal.h"

namespace base {
namespace {

using Clock = std::chrono::steady_clock;

struct Posted {
  uint64_t window;
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
};

struct Timer {
  uint32_t ms;
  Clock::time_point due;
};

struct Selection {
  uint64_t window;
  uint32_t msg;
  uint32_t events;
  uint32_t armed;  // events that may still be reported
};

struct LoopCore {
  LoopCore() { wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }
  ~LoopCore() {
    if (wakeFd >= 0) ::close(wakeFd);
  }
  void wake() {
    const uint64_t one = 1;
    ssize_t r = ::write(wakeFd, &one, sizeof(one));
    (void)r;
  }

  // Any thread, under mu.
  std::mutex mu;
  std::deque<Posted> queue;
  bool quitRequested = false;
  int quitCode = 0;
  int wakeFd = -1;
  // Another toolkit's loop served from this one (setForeignPump).
  std::function<void()> foreignPump;
  uint32_t foreignMaxWaitMs = 0;

  // Loop thread only.
  std::map<uint64_t, MessageWindow::Impl*> windows;
  std::map<SocketHandle, Selection> sockets;
  uint64_t nextWindowId = 1;
};

thread_local std::shared_ptr<LoopCore> tlsCore;
thread_local MessageLoop* tlsLoop = nullptr;

std::shared_ptr<LoopCore> coreOfThisThread() {
  if (!tlsCore) tlsCore = std::make_shared<LoopCore>();
  return tlsCore;
}

}  // namespace

struct MessageWindow::Impl {
  std::shared_ptr<LoopCore> core;
  uint64_t id = 0;
  Handler* handler = nullptr;
  std::map<uintptr_t, Timer> timers;
};

namespace {

void deliver(LoopCore& core, uint64_t windowId, uint32_t msg, uintptr_t wp, intptr_t lp) {
  auto it = core.windows.find(windowId);
  if (it == core.windows.end() || !it->second->handler) return;
  try {
    it->second->handler->onWindowMessage(msg, wp, lp);
  } catch (const std::exception& e) {
    LOG(ERROR) << "Exception in window message handler: " << e.what();
  } catch (...) {
    LOG(ERROR) << "Exception in window message handler";
  }
}

void enqueue(LoopCore& core, const Posted& p) {
  std::lock_guard<std::mutex> lock(core.mu);
  core.queue.push_back(p);
}

// Turns poll() results into socket event messages.
void collectSocketEvents(LoopCore& core, const std::vector<pollfd>& fds) {
  for (const pollfd& pfd : fds) {
    if (pfd.revents == 0) continue;
    const auto s = static_cast<SocketHandle>(pfd.fd);
    auto it = core.sockets.find(s);
    if (it == core.sockets.end()) continue;
    Selection& sel = it->second;
    auto post = [&](uint32_t event, uint32_t error) {
      enqueue(core, Posted{sel.window, sel.msg, s, makeSocketEventParam(event, error)});
    };
    if (pfd.revents & POLLNVAL) {
      core.sockets.erase(it);
      continue;
    }
    if (pfd.revents & POLLOUT) {
      if (sel.armed & kFdConnect) {
        int err = 0;
        socklen_t len = sizeof(err);
        ::getsockopt(pfd.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        sel.armed &= ~kFdConnect;
        post(kFdConnect, static_cast<uint32_t>(err));
        if (err != 0) {
          sel.armed = 0;
          continue;
        }
      }
      if (sel.armed & kFdWrite) {
        sel.armed &= ~kFdWrite;
        post(kFdWrite, 0);
      }
    }
    if (!(pfd.revents & (POLLIN | POLLHUP | POLLERR | POLLRDHUP))) continue;
    if (sel.armed & kFdAccept) {
      sel.armed &= ~kFdAccept;
      post(kFdAccept, 0);
      continue;
    }
    if (pfd.revents & POLLERR) {
      int err = 0;
      socklen_t len = sizeof(err);
      ::getsockopt(pfd.fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (sel.armed & kFdClose) post(kFdClose, static_cast<uint32_t>(err ? err : ECONNRESET));
      sel.armed = 0;
      continue;
    }
    char probe;
    const ssize_t n = ::recv(pfd.fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
      if (sel.armed & kFdRead) {
        sel.armed &= ~kFdRead;
        post(kFdRead, 0);
      }
    } else if (n == 0) {
      if (sel.armed & kFdClose) post(kFdClose, 0);
      sel.armed &= ~(kFdClose | kFdRead);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      if (sel.armed & kFdClose) post(kFdClose, static_cast<uint32_t>(errno));
      sel.armed = 0;
    }
  }
}

// Fires due timers of the thread's windows. Only called when no posted
// message is waiting.
void fireDueTimers(LoopCore& core, Clock::time_point now) {
  std::vector<std::pair<uint64_t, uintptr_t>> due;
  for (const auto& [id, window] : core.windows)
    for (const auto& [timerId, timer] : window->timers)
      if (timer.due <= now) due.emplace_back(id, timerId);
  for (const auto& [windowId, timerId] : due) {
    auto w = core.windows.find(windowId);
    if (w == core.windows.end()) continue;
    auto t = w->second->timers.find(timerId);
    if (t == w->second->timers.end() || t->second.due > now) continue;
    t->second.due = now + std::chrono::milliseconds(t->second.ms);
    deliver(core, windowId, kMsgTimer, timerId, 0);
  }
}

// One turn: handle what is queued, or wait up to `maxWait` for something.
// Returns true when quit was requested (and consumes the request).
bool pumpOnce(LoopCore& core, Clock::time_point deadline, bool block, int* quitCode) {
  // Before the socket list is taken: the toolkit may open or close sockets.
  if (core.foreignPump) {
    auto pump = core.foreignPump;  // it may replace itself
    pump();
  }
  // Posted messages first, those queued at this moment.
  size_t n;
  {
    std::lock_guard<std::mutex> lock(core.mu);
    n = core.queue.size();
  }
  for (size_t i = 0; i < n; ++i) {
    Posted p;
    {
      std::lock_guard<std::mutex> lock(core.mu);
      if (core.queue.empty()) break;
      p = core.queue.front();
      core.queue.pop_front();
    }
    deliver(core, p.window, p.msg, p.wparam, p.lparam);
  }
  bool queueEmpty;
  {
    std::lock_guard<std::mutex> lock(core.mu);
    // Like WM_QUIT, a quit request is seen once no posted message waits.
    if (core.quitRequested && core.queue.empty()) {
      core.quitRequested = false;
      *quitCode = core.quitCode;
      return true;
    }
    queueEmpty = core.queue.empty();
  }
  const auto now = Clock::now();
  if (queueEmpty) fireDueTimers(core, now);

  // Wait for sockets, the wake-up or the next timer.
  int timeoutMs = 0;
  {
    std::lock_guard<std::mutex> lock(core.mu);
    queueEmpty = core.queue.empty() && !core.quitRequested;
  }
  if (block && queueEmpty) {
    auto until = deadline;
    for (const auto& [id, window] : core.windows)
      for (const auto& [timerId, timer] : window->timers) until = std::min(until, timer.due);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    timeoutMs = static_cast<int>(std::clamp<long long>(wait, 0, 60 * 60 * 1000));
    if (core.foreignPump) timeoutMs = std::min(timeoutMs, static_cast<int>(core.foreignMaxWaitMs));
  }
  std::vector<pollfd> fds;
  fds.reserve(core.sockets.size() + 1);
  fds.push_back(pollfd{core.wakeFd, POLLIN, 0});
  for (const auto& [s, sel] : core.sockets) {
    short events = 0;
    if ((sel.armed & (kFdAccept | kFdRead)) ||
        ((sel.armed & kFdClose) && !(sel.events & kFdRead)))
      events |= POLLIN | POLLRDHUP;
    if (sel.armed & (kFdWrite | kFdConnect)) events |= POLLOUT;
    if (events) fds.push_back(pollfd{static_cast<int>(s), events, 0});
  }
  const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
  if (ready > 0) {
    if (fds[0].revents & POLLIN) {
      uint64_t value;
      ssize_t r = ::read(core.wakeFd, &value, sizeof(value));
      (void)r;
    }
    fds.erase(fds.begin());
    collectSocketEvents(core, fds);
  }
  return false;
}

}  // namespace

namespace internal {

void reenableSocketEvent(SocketHandle socket, uint32_t event) {
  if (!tlsCore) return;
  auto it = tlsCore->sockets.find(socket);
  if (it != tlsCore->sockets.end()) it->second.armed |= (event & it->second.events);
}

void forgetSocket(SocketHandle socket) {
  if (tlsCore) tlsCore->sockets.erase(socket);
}

}  // namespace internal

MessageWindow::MessageWindow(const char16_t* className, Handler* handler)
    : impl_(std::make_unique<Impl>()) {
  (void)className;
  impl_->core = coreOfThisThread();
  impl_->id = impl_->core->nextWindowId++;
  impl_->handler = handler;
  impl_->core->windows[impl_->id] = impl_.get();
}

MessageWindow::~MessageWindow() {
  LoopCore& core = *impl_->core;
  core.windows.erase(impl_->id);
  for (auto it = core.sockets.begin(); it != core.sockets.end();) {
    if (it->second.window == impl_->id) it = core.sockets.erase(it);
    else ++it;
  }
  std::lock_guard<std::mutex> lock(core.mu);
  const uint64_t id = impl_->id;
  core.queue.erase(std::remove_if(core.queue.begin(), core.queue.end(),
                                  [id](const Posted& p) { return p.window == id; }),
                   core.queue.end());
}

bool MessageWindow::valid() const { return impl_ && impl_->id != 0; }

bool MessageWindow::post(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  enqueue(*impl_->core, Posted{impl_->id, msg, wparam, lparam});
  impl_->core->wake();
  return true;
}

bool MessageWindow::setTimer(uintptr_t id, uint32_t ms) {
  if (ms == 0) ms = 1;  // like USER_TIMER_MINIMUM
  impl_->timers[id] = Timer{ms, Clock::now() + std::chrono::milliseconds(ms)};
  return true;
}

void MessageWindow::killTimer(uintptr_t id) { impl_->timers.erase(id); }

bool MessageWindow::selectSocket(SocketHandle socket, uint32_t msg, uint32_t events) {
  LoopCore& core = *impl_->core;
  if (events == 0) {
    core.sockets.erase(socket);
    return true;
  }
  core.sockets[socket] = Selection{impl_->id, msg, events, events};
  return true;
}

void* MessageWindow::nativeHandle() const {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(impl_->id));
}

struct MessageLoop::Impl {
  std::shared_ptr<LoopCore> core;
  MessageLoop* previous = nullptr;
};

MessageLoop::MessageLoop() : impl_(std::make_unique<Impl>()) {
  impl_->core = coreOfThisThread();
  impl_->previous = tlsLoop;
  tlsLoop = this;
}

MessageLoop::~MessageLoop() { tlsLoop = impl_->previous; }

MessageLoop* MessageLoop::current() { return tlsLoop; }

int MessageLoop::run() {
  int code = 0;
  while (!pumpOnce(*impl_->core, Clock::time_point::max(), true, &code)) {
  }
  return code;
}

void MessageLoop::quit(int code) {
  {
    std::lock_guard<std::mutex> lock(impl_->core->mu);
    impl_->core->quitRequested = true;
    impl_->core->quitCode = code;
  }
  impl_->core->wake();
}

void MessageLoop::setForeignPump(std::function<void()> pump, uint32_t maxWaitMs) {
  LoopCore& core = *impl_->core;
  core.foreignPump = std::move(pump);
  core.foreignMaxWaitMs = maxWaitMs;
}

bool MessageLoop::runFor(uint32_t ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  int code = 0;
  do {
    if (pumpOnce(*impl_->core, deadline, true, &code)) return true;
  } while (Clock::now() < deadline);
  return false;
}

void MessageLoop::runUntilIdle() {
  int code = 0;
  for (int i = 0; i < 1000; ++i) {
    if (pumpOnce(*impl_->core, Clock::now(), false, &code)) {
      quit(code);  // keep the request for the run() that owns it
      return;
    }
    std::lock_guard<std::mutex> lock(impl_->core->mu);
    if (impl_->core->queue.empty()) return;
  }
}

}  // namespace base
