#pragma once
// Fixed-bound arrays of the control: every array indexed by file index or by
// probe index holds slots 1..100, and an index outside fails with error 9.

#include <array>
#include <cstdint>

#include "automation/automation.hpp"

namespace vintrel::automation {

/// An array with the fixed bounds Lo..Hi; an index outside fails with 9.
template <class T, std::int32_t Lo = 1, std::int32_t Hi = 100>
class SlotArray {
 public:
  static constexpr std::int32_t lower = Lo;
  static constexpr std::int32_t upper = Hi;

  T& operator[](std::int64_t index) { return slots_[offset(index)]; }
  const T& operator[](std::int64_t index) const { return slots_[offset(index)]; }

  /// True when the index lies within the bounds.
  static constexpr bool contains(std::int64_t index) noexcept { return index >= Lo && index <= Hi; }

 private:
  static std::size_t offset(std::int64_t index) {
    if (!contains(index)) raise(err::subscript);
    return static_cast<std::size_t>(index - Lo);
  }
  std::array<T, static_cast<std::size_t>(Hi - Lo + 1)> slots_{};
};

}  // namespace vintrel::automation
