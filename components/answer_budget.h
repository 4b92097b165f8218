// Bounds how often a component answers one kind of request on a connection.
// A phone asks for the capabilities at the start of a session (and again
// after switching its camera); a peer that asks in a loop gets a burst of
// answers and then one a second, so what it makes the PC send stays small.
//
// Thread: the user-interface thread that runs the transport.
#ifndef COMPONENTS_ANSWER_BUDGET_H_
#define COMPONENTS_ANSWER_BUDGET_H_

#include <cstdint>
#include <functional>
#include <string>

namespace component {

class AnswerBudget {
 public:
  static constexpr int kBurst = 8;
  static constexpr int64_t kRefillMs = 1000;

  // `what` names the answer in the log line.
  explicit AnswerBudget(std::string what);

  // A new connection: the full burst again.
  void reset();
  // Whether to answer now; a refused answer is logged once per connection.
  bool take();

  void setClockForTesting(std::function<int64_t()> nowMs) { clock_ = std::move(nowMs); }

 private:
  std::string what_;
  std::function<int64_t()> clock_;
  int tokens_ = kBurst;
  int64_t lastRefillMs_ = 0;
  bool started_ = false;
  bool logged_ = false;
};

}  // namespace component

#endif  // COMPONENTS_ANSWER_BUDGET_H_
