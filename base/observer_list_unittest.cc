#include "base/observer_list.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/thread_safe_queue.h"

namespace base {
namespace {

struct Obs {
  int calls = 0;
  std::function<void()> onCall;
  void notify() {
    ++calls;
    if (onCall) onCall();
  }
};

class ObserverListModes : public ::testing::TestWithParam<ObserverList<Obs>::NotificationType> {};

TEST_P(ObserverListModes, RemovalAndAdditionDuringNotification) {
  ObserverList<Obs> list(GetParam());
  Obs a, b, c, added;
  list.addObserver(&a);
  list.addObserver(&b);
  list.addObserver(&c);
  // a removes itself and b; b is never reached; c adds a newcomer.
  a.onCall = [&] {
    list.removeObserver(&a);
    list.removeObserver(&b);
  };
  c.onCall = [&] {
    list.addObserver(&added);
    c.onCall = nullptr;
  };
  FOR_EACH_OBSERVER(Obs, list, notify());
  EXPECT_EQ(a.calls, 1);
  EXPECT_EQ(b.calls, 0);
  EXPECT_EQ(c.calls, 1);
  EXPECT_EQ(added.calls, GetParam() == ObserverList<Obs>::kNotifyAll ? 1 : 0);
  EXPECT_EQ(list.size(), 2u);
  EXPECT_FALSE(list.hasObserver(&a));

  // Nested notification: removal inside the inner walk is swept only after
  // the outer walk ends, and nobody is called twice per walk.
  int inner = 0;
  c.onCall = [&] {
    if (inner++ == 0) {
      list.removeObserver(&added);
      FOR_EACH_OBSERVER(Obs, list, notify());
    }
  };
  FOR_EACH_OBSERVER(Obs, list, notify());
  EXPECT_EQ(c.calls, 3);
  EXPECT_EQ(list.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothModes, ObserverListModes,
                         ::testing::Values(ObserverList<Obs>::kNotifyAll,
                                           ObserverList<Obs>::kNotifyExistingOnly));

TEST(ThreadSafeQueue, OwnershipPassesThrough) {
  struct Item {
    explicit Item(int* d) : deleted(d) {}
    ~Item() { ++*deleted; }
    int* deleted;
  };
  int deleted = 0;
  {
    ThreadSafeQueue<Item> q;
    Item* out = reinterpret_cast<Item*>(0x1);
    EXPECT_FALSE(q.tryPop(&out));
    EXPECT_EQ(out, reinterpret_cast<Item*>(0x1));
    q.push(new Item(&deleted));
    q.push(new Item(&deleted));
    ASSERT_TRUE(q.tryPop(&out));
    delete out;
    EXPECT_EQ(deleted, 1);
  }
  EXPECT_EQ(deleted, 2);  // the queue deletes what it still holds
}

}  // namespace
}  // namespace base
