#pragma once
// A property bag held as a JSON object, for the "save" and "load" requests.

#include <string>
#include <string_view>
#include <utility>

#include "automation/automation.hpp"
#include "control/interfaces/interfaces.hpp"
#include "host/values.hpp"

namespace vintrel::host {

/// Names are found as script finds them, whatever their case.
class JsonPropertyBag final : public control::PropertyBag {
 public:
  /// A bag holding `values`, an object of names and values.
  explicit JsonPropertyBag(Json values = Json::object()) : values_(std::move(values)) {}

  automation::Variant Read(std::string_view name, const automation::Variant& default_value) override {
    for (const auto& [key, value] : values_.items())
      if (automation::same_name(key, name)) return from_json(value);
    return default_value;
  }
  void Write(std::string_view name, const automation::Variant& value, const automation::Variant&) override {
    values_[std::string(name)] = to_json(value);
  }
  /// Everything written, as an object.
  const Json& values() const { return values_; }

 private:
  Json values_;
};

}  // namespace vintrel::host
