#include "control/interfaces/interfaces.hpp"

namespace vintrel::control {

automation::Variant MemoryPropertyBag::Read(std::string_view name, const automation::Variant& default_value) {
  for (const auto& [key, value] : values_)
    if (automation::same_name(key, name)) return value;
  return default_value;
}

void MemoryPropertyBag::Write(std::string_view name, const automation::Variant& value, const automation::Variant&) {
  for (auto& [key, stored] : values_)
    if (automation::same_name(key, name)) {
      stored = value;
      return;
    }
  values_.emplace_back(std::string(name), value);
}

bool MemoryPropertyBag::contains(std::string_view name) const {
  for (const auto& entry : values_)
    if (automation::same_name(entry.first, name)) return true;
  return false;
}

}  // namespace vintrel::control
