#include "control/persistence.hpp"

#include "control/user_control1.hpp"

namespace vintrel::control {

namespace {
// The default handed to the bag both ways: the empty object reference.
automation::Variant nothing() { return automation::Variant(std::shared_ptr<automation::Object>()); }
}  // namespace

void load_properties(UserControl1& control, PropertyBag& bag) {
  // Converted before it is stored, so a failed conversion changes nothing.
  std::string value = automation::to_bstr(bag.Read("URL", nothing()));
  control.urlValue = std::move(value);
}

void save_properties(const UserControl1& control, PropertyBag& bag) {
  bag.Write("URL", automation::Variant(control.urlValue), nothing());
}

}  // namespace vintrel::control
