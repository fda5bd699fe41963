#pragma once
// The small things the automation tests build values from: an object with
// nothing but a class name, and integers of a chosen width.

#include "automation/automation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "support/errors.hpp"

namespace vintrel::automation::automation_rig {

using platform::make_date;
using testing::error_of;

class Plain final : public Object {
 public:
  std::string_view class_name() const override { return "Plain"; }
};

inline Variant i2(std::int16_t v) { return Variant(v); }
inline Variant i4(std::int32_t v) { return Variant(v); }

}  // namespace vintrel::automation::automation_rig
