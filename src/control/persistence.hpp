#pragma once
// The control's one persisted property, "URL", kept in `urlValue`.

#include "control/interfaces/interfaces.hpp"

namespace vintrel::control {

class UserControl1;

/// Reads "URL" from the bag. A bag without it yields the empty object
/// reference, which has no text: the load fails with 13 and `urlValue`
/// keeps what it held.
void load_properties(UserControl1& control, PropertyBag& bag);
/// Writes "URL" into the bag.
void save_properties(const UserControl1& control, PropertyBag& bag);

}  // namespace vintrel::control
