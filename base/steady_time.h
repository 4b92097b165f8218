// Milliseconds on the steady clock, for time-outs and budgets that must not
// jump with the wall clock (a user or NTP setting the time). Any thread.
#ifndef BASE_STEADY_TIME_H_
#define BASE_STEADY_TIME_H_

#include <chrono>
#include <cstdint>

namespace base {

inline int64_t steadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace base

#endif  // BASE_STEADY_TIME_H_
