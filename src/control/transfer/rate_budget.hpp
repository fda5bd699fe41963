#pragma once
// How fast the control may take what arrives: a byte budget that grows
// with time at the capped rate. Plain arithmetic over a steady count of
// milliseconds, so the pacing is driven and checked without a clock.

#include <cstddef>
#include <cstdint>

namespace vintrel::control {

/// A rate cap in bytes per second; 0 for none.
class RateBudget {
 public:
  /// Sets the cap and starts counting afresh at `now_ms`.
  void set_rate(std::int64_t bytes_per_second, std::int64_t now_ms);
  std::int64_t rate() const { return rate_; }
  /// Counts bytes taken at `now_ms`.
  void spend(std::size_t bytes, std::int64_t now_ms);
  /// Milliseconds until more may be taken; 0 when it may be now.
  std::int64_t wait_ms(std::int64_t now_ms) const;

 private:
  std::int64_t rate_ = 0;
  std::int64_t start_ms_ = 0;
  // Bytes taken since `start_ms_`, less the credit kept from a quiet spell.
  std::int64_t spent_ = 0;
};

}  // namespace vintrel::control
