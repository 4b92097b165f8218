// A list of non-owning observer pointers that tolerates changes during a
// notification: an observer removed while the list is walked is nulled and
// skipped, and the null entries are swept when the outermost walk ends. In
// kNotifyAll mode observers added during a walk are reached by that walk; in
// kNotifyExistingOnly mode only those present when the walk began.
// Single-threaded: use it on the subject's thread.
#ifndef BASE_OBSERVER_LIST_H_
#define BASE_OBSERVER_LIST_H_

#include <algorithm>
#include <cstddef>
#include <vector>

namespace base {

template <typename ObserverType>
class ObserverList {
 public:
  enum NotificationType { kNotifyAll, kNotifyExistingOnly };

  explicit ObserverList(NotificationType type = kNotifyAll) : type_(type) {}
  ObserverList(const ObserverList&) = delete;
  ObserverList& operator=(const ObserverList&) = delete;

  // An observer must be added at most once; the list does not check.
  void addObserver(ObserverType* observer) { observers_.push_back(observer); }

  void removeObserver(ObserverType* observer) {
    auto it = std::find(observers_.begin(), observers_.end(), observer);
    if (it == observers_.end()) return;
    if (depth_ > 0) *it = nullptr;
    else observers_.erase(it);
  }

  bool hasObserver(const ObserverType* observer) const {
    return std::find(observers_.begin(), observers_.end(), observer) != observers_.end();
  }

  void clear() {
    if (depth_ > 0) std::fill(observers_.begin(), observers_.end(), nullptr);
    else observers_.clear();
  }

  size_t size() const {
    return static_cast<size_t>(std::count_if(observers_.begin(), observers_.end(),
                                             [](ObserverType* o) { return o != nullptr; }));
  }
  bool empty() const { return size() == 0; }

  // Calls fn(observer) for each live observer.
  template <typename Fn>
  void forEach(Fn&& fn) {
    ++depth_;
    const size_t limit = type_ == kNotifyExistingOnly ? observers_.size() : static_cast<size_t>(-1);
    for (size_t i = 0; i < observers_.size() && i < limit; ++i) {
      ObserverType* observer = observers_[i];
      if (observer) fn(observer);
    }
    if (--depth_ == 0) compact();
  }

 private:
  void compact() {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), nullptr), observers_.end());
  }

  std::vector<ObserverType*> observers_;
  int depth_ = 0;
  NotificationType type_;
};

// FOR_EACH_OBSERVER(Observer, list, onSomething(a, b));
#define FOR_EACH_OBSERVER(ObserverType, list, call) \
  (list).forEach([&](ObserverType* observer_) { observer_->call; })

}  // namespace base

#endif  // BASE_OBSERVER_LIST_H_
