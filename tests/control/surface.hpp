#pragma once
// A control reached the way a container reaches it, on the scripted
// platform: by name and by dispatch identifier.

#include <cstdint>
#include <vector>

#include "control/dispatch.hpp"
#include "control/user_control1.hpp"
#include "support/control_harness.hpp"

namespace vintrel::testing {

struct Surface {
  FakePlatform platform;
  RecordingContainer host;
  control::ControlObject object{platform, &host};
  control::UserControl1& c = object.control();

  automation::Variant invoke(control::DispId id, std::uint16_t flags, std::vector<automation::Variant> args = {}) {
    return object.Invoke(id, flags, args);
  }
  automation::Variant call(std::string_view name, std::vector<automation::Variant> args = {}) {
    return object.call(name, args);
  }
};

/// An object's member called by name with arguments.
inline automation::Variant call(const automation::Variant& object, std::string_view name,
                                std::vector<automation::Variant> args = {}) {
  return automation::to_object(object)->call(name, args);
}

}  // namespace vintrel::testing
