#include "base/thread_call.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/platform_thread.h"

namespace base {
namespace {

struct Counter : ThreadCall::Delegate {
  int runs = 0;
  std::thread::id thread;
  void run() override {
    ++runs;
    thread = std::this_thread::get_id();
  }
};

TEST(ThreadCall, TwoPostsTwoRunsOnTheCreatingThread) {
  MessageLoop loop;
  Counter c;
  ThreadCall call(&c);
  std::thread worker([&] {
    call.post();
    call.post();
  });
  worker.join();
  EXPECT_TRUE(call.isPending());
  loop.runFor(20);
  EXPECT_EQ(c.runs, 2);
  EXPECT_EQ(c.thread, std::this_thread::get_id());
  EXPECT_FALSE(call.isPending());
}

TEST(ThreadCall, DestroyedCallDropsWhatWasPosted) {
  MessageLoop loop;
  Counter c;
  {
    ThreadCall call(&c);
    call.post();
  }
  loop.runFor(20);
  EXPECT_EQ(c.runs, 0);
}

TEST(PlatformThread, RunsAndJoins) {
  struct Body : PlatformThread::Delegate {
    std::atomic<int> value{0};
    void threadMain() override { value = 42; }
  } body;
  PlatformThread::Handle handle;
  ASSERT_TRUE(PlatformThread::create(&body, &handle));
  PlatformThread::join(&handle);
  EXPECT_EQ(body.value, 42);
  EXPECT_FALSE(handle.joinable());
}

}  // namespace
}  // namespace base
