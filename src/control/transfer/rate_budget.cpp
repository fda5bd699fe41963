#include "control/transfer/rate_budget.hpp"

#include <algorithm>
#include <limits>

namespace vintrel::control {

namespace {

// Budget saved while nothing arrives (a connection being made, a server
// thinking) is kept up to a quarter second's worth: enough that a brief
// pause costs nothing, too little for the burst after a long one to show.
constexpr std::int64_t credit_divisor = 4;

}  // namespace

void RateBudget::set_rate(std::int64_t bytes_per_second, std::int64_t now_ms) {
  rate_ = std::max<std::int64_t>(bytes_per_second, 0);
  start_ms_ = now_ms;
  spent_ = 0;
}

void RateBudget::spend(std::size_t bytes, std::int64_t now_ms) {
  if (rate_ == 0) return;
  // In floating point: a fast cap over weeks passes 64 bits.
  const double earned =
      static_cast<double>(rate_) * static_cast<double>(std::max<std::int64_t>(now_ms - start_ms_, 0)) / 1000;
  const std::int64_t credit = rate_ / credit_divisor;
  if (earned - static_cast<double>(spent_) > static_cast<double>(credit)) {
    // Counting restarts now with the credit carried over.
    start_ms_ = now_ms;
    spent_ = -credit;
  }
  const auto most = std::numeric_limits<std::int64_t>::max() / 1000 - spent_;
  spent_ += static_cast<std::int64_t>(std::min<std::size_t>(bytes, static_cast<std::size_t>(most)));
}

std::int64_t RateBudget::wait_ms(std::int64_t now_ms) const {
  if (rate_ == 0 || spent_ <= 0) return 0;
  // The moment the budget has grown to what was spent, rounded up.
  const std::int64_t due = start_ms_ + (spent_ * 1000 + rate_ - 1) / rate_;
  return std::max<std::int64_t>(due - now_ms, 0);
}

}  // namespace vintrel::control
