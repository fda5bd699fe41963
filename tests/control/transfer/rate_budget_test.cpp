// The rate cap's arithmetic: how long to wait after what was taken, the
// credit a quiet spell leaves, and a cap of none.

#include <gtest/gtest.h>

#include <vector>

#include "control/transfer/rate_budget.hpp"

namespace vintrel::control {
namespace {

struct Step {
  std::int64_t at_ms;
  std::size_t spent;  // bytes taken at `at_ms`, then the wait asked
  std::int64_t wait_ms;
};

TEST(RateBudget, WaitsUntilTheBudgetHasGrownToWhatWasTaken) {
  struct Row {
    const char* name;
    std::int64_t rate;
    std::vector<Step> steps;
  };
  const std::vector<Row> rows = {
      {"no cap", 0, {{0, 1 << 30, 0}, {1, 1 << 30, 0}}},
      {"a second's worth at once", 1000, {{0, 1000, 1000}, {400, 0, 600}, {1000, 0, 0}}},
      // A byte past a whole millisecond's worth rounds the wait up.
      {"rounded up", 3, {{0, 1, 334}}},
      {"taken late counts from the start", 1000, {{0, 500, 500}, {500, 500, 500}, {2000, 0, 0}}},
      // Two seconds without taking: a quarter second of credit is kept.
      {"credit after a quiet spell", 1000, {{0, 0, 0}, {2000, 250, 0}, {2000, 500, 500}}},
      {"credit capped", 1000, {{0, 100, 100}, {10000, 1250, 1000}}},
      // Far past any 32-bit count, the sums hold.
      {"large", 2'000'000'000, {{0, 4'000'000'000, 2000}, {1000, 2'000'000'000, 2000}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RateBudget budget;
    budget.set_rate(row.rate, 0);
    for (const Step& step : row.steps) {
      budget.spend(step.spent, step.at_ms);
      EXPECT_EQ(budget.wait_ms(step.at_ms), step.wait_ms) << "at " << step.at_ms;
    }
  }
}

TEST(RateBudget, ANewRateStartsCountingAfresh) {
  RateBudget budget;
  budget.set_rate(100, 0);
  budget.spend(1000, 0);
  EXPECT_EQ(budget.wait_ms(0), 10000);
  budget.set_rate(1000, 5);
  EXPECT_EQ(budget.wait_ms(5), 0);
  budget.set_rate(-1, 5);
  EXPECT_EQ(budget.rate(), 0);
}

}  // namespace
}  // namespace vintrel::control
