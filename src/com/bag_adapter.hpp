#pragma once
// "URL" read from and written to a container's property bag.

#include <ocidl.h>
#include <windows.h>

#include <string_view>

#include "control/interfaces/interfaces.hpp"

namespace vintrel::com {

/// The engine's property bag over the container's IPropertyBag, for one
/// Load or Save.
class BagAdapter final : public control::PropertyBag {
 public:
  BagAdapter(IPropertyBag* bag, IErrorLog* log) : bag_(bag), log_(log) {}

  automation::Variant Read(std::string_view name, const automation::Variant& default_value) override;
  void Write(std::string_view name, const automation::Variant& value,
             const automation::Variant& default_value) override;

  /// The first write the bag refused: the engine's Save cannot tell, so
  /// the caller answers with it.
  HRESULT failure = S_OK;

 private:
  IPropertyBag* bag_;
  IErrorLog* log_;
};

}  // namespace vintrel::com
