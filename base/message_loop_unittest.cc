#include "base/message_loop.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/socket.h"

namespace base {
namespace {

struct Recorder : MessageWindow::Handler {
  std::vector<std::string> seen;
  std::function<void(uint32_t, uintptr_t, intptr_t)> also;
  void onWindowMessage(uint32_t msg, uintptr_t wp, intptr_t lp) override {
    if (msg == kMsgTimer) seen.push_back("timer" + std::to_string(wp));
    else seen.push_back(std::to_string(msg) + ":" + std::to_string(wp));
    if (also) also(msg, wp, lp);
  }
};

TEST(MessageLoop, PostedMessagesInOrderFromAnyThread) {
  MessageLoop loop;
  Recorder r;
  MessageWindow w(u"test.window", &r);
  w.post(kMsgUser + 1, 1);
  std::thread other([&] {
    for (uintptr_t i = 2; i <= 100; ++i) w.post(kMsgUser + 1, i);
    w.post(kMsgUser + 2);
  });
  r.also = [&](uint32_t msg, uintptr_t, intptr_t) {
    if (msg == kMsgUser + 2) loop.quit(7);
  };
  EXPECT_EQ(loop.run(), 7);
  other.join();
  ASSERT_EQ(r.seen.size(), 101u);
  for (size_t i = 0; i < 100; ++i) EXPECT_EQ(r.seen[i], std::to_string(kMsgUser + 1) + ":" + std::to_string(i + 1));
}

TEST(MessageLoop, TimersAreLowPriorityAndStopWhenKilled) {
  MessageLoop loop;
  Recorder r;
  MessageWindow w(u"test.window", &r);
  ASSERT_TRUE(w.setTimer(5, 10));
  ASSERT_TRUE(w.setTimer(6, 1000));
  int fired = 0;
  r.also = [&](uint32_t msg, uintptr_t wp, intptr_t) {
    if (msg == kMsgTimer && wp == 5 && ++fired == 3) {
      w.killTimer(5);
      loop.quit(0);
    }
  };
  loop.run();
  EXPECT_EQ(fired, 3);
  // A posted message waiting is handled before any timer.
  w.setTimer(7, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  w.post(kMsgUser, 100);
  w.post(kMsgUser, 101);
  r.seen.clear();
  loop.runFor(30);
  ASSERT_GE(r.seen.size(), 3u);
  EXPECT_EQ(r.seen[0], std::to_string(kMsgUser) + ":100");
  EXPECT_EQ(r.seen[1], std::to_string(kMsgUser) + ":101");
  EXPECT_EQ(r.seen[2], "timer7");
  for (const auto& s : r.seen) EXPECT_NE(s, "timer5");
}

TEST(MessageLoop, QuitWaitsForPostedMessages) {
  MessageLoop loop;
  Recorder r;
  MessageWindow w(u"test.window", &r);
  r.also = [&](uint32_t msg, uintptr_t wp, intptr_t) {
    if (wp == 1) {
      loop.quit(3);
      w.post(kMsgUser, 2);
    }
  };
  w.post(kMsgUser, 1);
  EXPECT_EQ(loop.run(), 3);
  EXPECT_EQ(r.seen.size(), 2u);
}

TEST(MessageLoop, RunForEndsAtItsDeadlineWhileMessagesKeepComing) {
  // Each message posts the next, as a busy socket or a chatty worker can:
  // the queue is never empty until the flood ends.
  constexpr int kFlood = 2000000;
  struct Flood : MessageWindow::Handler {
    MessageWindow* window = nullptr;
    int handled = 0;
    void onWindowMessage(uint32_t, uintptr_t, intptr_t) override {
      if (++handled < kFlood) window->post(kMsgUser);
    }
  } flood;
  MessageLoop loop;
  MessageWindow w(u"test.window", &flood);
  flood.window = &w;
  w.post(kMsgUser);
  EXPECT_FALSE(loop.runFor(20));
  const int first = flood.handled;
  EXPECT_GT(first, 0);
  EXPECT_LT(first, kFlood);  // back before the flood ended
  loop.runFor(1);
  EXPECT_GT(flood.handled, first);
}

TEST(MessageLoop, DestroyedWindowDropsItsMessagesAndHandlersMayThrow) {
  MessageLoop loop;
  Recorder keep;
  MessageWindow kept(u"test.window", &keep);
  {
    Recorder gone;
    MessageWindow w(u"test.window", &gone);
    w.post(kMsgUser, 1);
    w.setTimer(1, 1);
  }
  struct Thrower : MessageWindow::Handler {
    int calls = 0;
    void onWindowMessage(uint32_t, uintptr_t, intptr_t) override {
      ++calls;
      throw std::runtime_error("boom");
    }
  } thrower;
  MessageWindow t(u"test.window", &thrower);
  t.post(kMsgUser);
  t.post(kMsgUser);
  kept.post(kMsgUser, 2);
  loop.runFor(20);
  EXPECT_EQ(thrower.calls, 2);
  ASSERT_EQ(keep.seen.size(), 1u);
}

// Socket events follow WSAAsyncSelect's rules: FD_ACCEPT again only after an
// accept, FD_READ again only after a receive, FD_WRITE once, FD_CLOSE once.
TEST(MessageLoop, SocketEventsAreReenabledByTheCalls) {
  ASSERT_TRUE(initializeSockets());
  MessageLoop loop;
  Recorder r;
  MessageWindow w(u"test.window", &r);
  constexpr uint32_t kSocketMsg = kMsgUser + 10;
  int32_t error = 0;
  const SocketHandle listener = socketListen(0, true, &error);
  ASSERT_NE(listener, kInvalidSocket) << error;
  uint16_t port = 0;
  ASSERT_TRUE(socketLocalAddress(listener, nullptr, &port));
  ASSERT_TRUE(w.selectSocket(listener, kSocketMsg, kFdAccept));

  std::vector<std::pair<SocketHandle, uint32_t>> events;
  r.also = [&](uint32_t msg, uintptr_t wp, intptr_t lp) {
    if (msg == kSocketMsg) events.emplace_back(wp, socketEventOf(lp));
  };
  const SocketHandle client = socketConnect("127.0.0.1", port, &error);
  ASSERT_NE(client, kInvalidSocket);
  loop.runFor(50);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].second, kFdAccept);
  const SocketHandle server = socketAccept(listener);
  ASSERT_NE(server, kInvalidSocket);
  events.clear();
  ASSERT_TRUE(w.selectSocket(server, kSocketMsg, kFdRead | kFdWrite | kFdClose));
  loop.runFor(30);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].second, kFdWrite);

  // Two sends, one FD_READ until the program receives.
  events.clear();
  ASSERT_EQ(socketSend(client, "abc", 3), 3);
  loop.runFor(30);
  ASSERT_EQ(socketSend(client, "def", 3), 3);
  loop.runFor(30);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].second, kFdRead);
  char buf[16];
  EXPECT_EQ(socketRecv(server, buf, 2), 2);  // data left: FD_READ again
  loop.runFor(30);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(socketBytesAvailable(server), 4);
  EXPECT_EQ(socketRecv(server, buf, sizeof(buf)), 4);

  events.clear();
  socketClose(client);
  loop.runFor(30);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].second, kFdClose);
  EXPECT_EQ(socketErrorOf(makeSocketEventParam(kFdClose, 10054)), 10054u);
  loop.runFor(20);
  EXPECT_EQ(events.size(), 1u);
  socketClose(server);
  socketClose(listener);
}

}  // namespace
}  // namespace base
