#include "components/answer_budget.h"

#include <gtest/gtest.h>

#include "transport/transport_test_support.h"

namespace component {
namespace {

int answered(AnswerBudget* budget, int asks) {
  int n = 0;
  for (int i = 0; i < asks; ++i) n += budget->take() ? 1 : 0;
  return n;
}

TEST(AnswerBudget, ABurstThenOneASecondAndAFreshBurstPerConnection) {
  int64_t now = 5000;
  AnswerBudget budget("video capabilities");
  budget.setClockForTesting([&] { return now; });
  transport::LogCapture log;
  EXPECT_EQ(answered(&budget, 100), AnswerBudget::kBurst);
  EXPECT_TRUE(log.contains("asks for the video capabilities again and again"));

  now += AnswerBudget::kRefillMs - 1;
  EXPECT_EQ(answered(&budget, 10), 0);
  now += 1;
  EXPECT_EQ(answered(&budget, 10), 1);
  // A long pause earns no more than a burst.
  now += 100 * AnswerBudget::kRefillMs;
  EXPECT_EQ(answered(&budget, 100), AnswerBudget::kBurst);
  // A clock that steps back neither stalls the budget nor pays out.
  now -= 50 * AnswerBudget::kRefillMs;
  EXPECT_EQ(answered(&budget, 10), 0);
  now += AnswerBudget::kRefillMs;
  EXPECT_EQ(answered(&budget, 10), 1);

  budget.reset();
  EXPECT_EQ(answered(&budget, 100), AnswerBudget::kBurst);
}

}  // namespace
}  // namespace component
