#include "control/interfaces/interfaces.hpp"

namespace vintrel::control {

platform::Variant MemoryPropertyBag::Read(std::string_view name, const platform::Variant& default_value) {
  for (const auto& [key, value] : values_)
    if (platform::same_name(key, name)) return value;
  return default_value;
}

void MemoryPropertyBag::Write(std::string_view name, const platform::Variant& value, const platform::Variant&) {
  for (auto& [key, stored] : values_)
    if (platform::same_name(key, name)) {
      stored = value;
      return;
    }
  values_.emplace_back(std::string(name), value);
}

bool MemoryPropertyBag::contains(std::string_view name) const {
  for (const auto& entry : values_)
    if (platform::same_name(entry.first, name)) return true;
  return false;
}

}  // namespace vintrel::control
