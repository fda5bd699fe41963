#pragma once
// Number helpers the value conversions share with the number functions.

#include <cstdint>
#include <string>

namespace vintrel::automation::detail {

/// `v` rounded to the nearest integer, halves to even, whatever the
/// floating-point rounding mode.
double round_half_even(double v);
/// `v` in decimal with at least two digits ("07").
std::string two_digits(std::int64_t v);

}  // namespace vintrel::automation::detail
