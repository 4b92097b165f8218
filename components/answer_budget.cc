#include "components/answer_budget.h"

#include "base/logging.h"
#include "base/steady_time.h"

namespace component {

AnswerBudget::AnswerBudget(std::string what) : what_(std::move(what)), clock_(base::steadyNowMs) {}

void AnswerBudget::reset() {
  tokens_ = kBurst;
  started_ = false;
  logged_ = false;
}

bool AnswerBudget::take() {
  const int64_t now = clock_();
  if (!started_ || now < lastRefillMs_) {
    started_ = true;
    lastRefillMs_ = now;
  }
  const int64_t earned = (now - lastRefillMs_) / kRefillMs;
  if (earned > 0) {
    tokens_ = earned >= kBurst - tokens_ ? kBurst : tokens_ + static_cast<int>(earned);
    lastRefillMs_ += earned * kRefillMs;
  }
  if (tokens_ > 0) {
    --tokens_;
    return true;
  }
  if (!logged_) {
    logged_ = true;
    LOG(WARNING) << "The phone asks for the " << what_ << " again and again; answering at most once a second";
  }
  return false;
}

}  // namespace component
