// The platform seam every event-driven object of the server runs on.
//
// A MessageLoop is a thread's loop. A MessageWindow is a hidden window of that
// thread that receives three kinds of messages, all delivered to its Handler
// on the thread that created it, one at a time:
//   - posted messages: post(msg, wparam, lparam) from any thread; delivered in
//     FIFO order with the thread's other posted messages and socket events;
//   - timer messages: setTimer(id, ms) delivers kMsgTimer with wparam = id
//     every `ms` milliseconds until killTimer(id). Like WM_TIMER they are
//     low-priority: a timer fires only when no posted message is waiting, and
//     at most one firing per timer is outstanding (late firings coalesce);
//   - socket events: selectSocket(s, msg, events) delivers `msg` with
//     wparam = s and lparam = makeSocketEventParam(event, error), with the
//     re-enabling rules of WSAAsyncSelect: FD_READ is not sent again until the
//     program has called a receive on the socket; FD_ACCEPT not again until
//     it has accepted; FD_WRITE once when the socket is connected and writable
//     and again only after a send failed with would-block and the socket
//     drained; FD_CLOSE once. (base/socket.h's calls tell the loop.)
// A handler that throws is stopped there; the exception is swallowed and
// logged. Destroying a window drops its pending messages, timers and socket
// selections, so no message reaches a destroyed object.
//
// Windows: message-only windows (HWND_MESSAGE) with PostMessageW, SetTimer and
// WSAAsyncSelect, pumped by GetMessage/DispatchMessage. Linux: poll() over an
// eventfd and the selected sockets, plus a timer list, per thread.
#ifndef BASE_MESSAGE_LOOP_H_
#define BASE_MESSAGE_LOOP_H_

#include <cstdint>
#include <functional>
#include <memory>

#include "base/string_util.h"

namespace base {

using SocketHandle = uintptr_t;
constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);

// Socket event bits (the values of Winsock's FD_* bits).
constexpr uint32_t kFdRead = 0x01;
constexpr uint32_t kFdWrite = 0x02;
constexpr uint32_t kFdOob = 0x04;
constexpr uint32_t kFdAccept = 0x08;
constexpr uint32_t kFdConnect = 0x10;
constexpr uint32_t kFdClose = 0x20;

// Message numbers shared with Windows.
constexpr uint32_t kMsgTimer = 0x0113;  // WM_TIMER
constexpr uint32_t kMsgUser = 0x0400;   // WM_USER

constexpr intptr_t makeSocketEventParam(uint32_t event, uint32_t error) {
  return static_cast<intptr_t>((error << 16) | (event & 0xFFFF));
}
constexpr uint32_t socketEventOf(intptr_t lparam) {
  return static_cast<uint32_t>(lparam) & 0xFFFF;
}
constexpr uint32_t socketErrorOf(intptr_t lparam) {
  return (static_cast<uint32_t>(lparam) >> 16) & 0xFFFF;
}

class MessageWindow {
 public:
  class Handler {
   public:
    virtual ~Handler() = default;
    virtual void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t lparam) = 0;
  };

  // Creates the window on the calling thread; `className` is the window
  // class (registered once per module on Windows). `handler` is not owned.
  MessageWindow(const char16_t* className, Handler* handler);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  bool valid() const;

  // Any thread. False when the window is gone or the queue refused it.
  bool post(uint32_t msg, uintptr_t wparam = 0, intptr_t lparam = 0);

  // Window thread only.
  bool setTimer(uintptr_t id, uint32_t ms);
  void killTimer(uintptr_t id);
  // `events` 0 cancels the selection. The socket must be non-blocking.
  bool selectSocket(SocketHandle socket, uint32_t msg, uint32_t events);

  // The HWND on Windows; an opaque id on Linux.
  void* nativeHandle() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

class MessageLoop {
 public:
  // Binds to the calling thread. Windows of this thread may exist before.
  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // The loop of the calling thread, or null.
  static MessageLoop* current();

  // Pumps messages until quit(); returns the code given to quit().
  int run();
  // Ends the innermost run() of this loop with `code`. Any thread.
  void quit(int code);
  // Pumps for up to `ms` milliseconds; returns early (true) when quit() was
  // called. For tests and for short waits.
  bool runFor(uint32_t ms);
  // Handles everything already waiting (posted messages, ready sockets,
  // due timers), then returns.
  void runUntilIdle();

  // Linux: another toolkit's event loop on this thread (the desktop front
  // end's) is served from this one. `pump` runs at the start of every turn
  // and no wait lasts longer than `maxWaitMs`, so the toolkit's input,
  // timers and queued events keep flowing. An empty `pump` ends it. Windows
  // has no need: its loop already dispatches every window of the thread.
  void setForeignPump(std::function<void()> pump, uint32_t maxWaitMs);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_H_
