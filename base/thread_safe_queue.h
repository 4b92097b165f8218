// A queue of owned items handed from one thread to another. push() passes
// ownership in, tryPop() passes it out; both are serialised by the queue's
// own lock. Items still queued are deleted with the queue.
#ifndef BASE_THREAD_SAFE_QUEUE_H_
#define BASE_THREAD_SAFE_QUEUE_H_

#include <deque>
#include <mutex>

namespace base {

template <typename T>
class ThreadSafeQueue {
 public:
  ThreadSafeQueue() = default;
  virtual ~ThreadSafeQueue() {
    for (T* item : items_) delete item;
  }
  ThreadSafeQueue(const ThreadSafeQueue&) = delete;
  ThreadSafeQueue& operator=(const ThreadSafeQueue&) = delete;

  void push(T* item) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.push_back(item);
  }

  // False, leaving *out untouched, when the queue is empty.
  bool tryPop(T** out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (items_.empty()) return false;
    *out = items_.front();
    items_.pop_front();
    return true;
  }

  size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.size();
  }

  void clear() {
    std::deque<T*> old;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      old.swap(items_);
    }
    for (T* item : old) delete item;
  }

 private:
  mutable std::mutex mutex_;
  std::deque<T*> items_;
};

}  // namespace base

#endif  // BASE_THREAD_SAFE_QUEUE_H_
