#include "com/bag_adapter.hpp"

#include <string>

#include "com/values.hpp"

namespace vintrel::com {

using automation::Variant;

Variant BagAdapter::Read(std::string_view name, const Variant& default_value) {
  const std::wstring wide = to_utf16(name);
  VARIANT value;
  VariantInit(&value);
  if (FAILED(bag_->Read(wide.c_str(), &value, log_))) return default_value;
  Variant result;
  try {
    result = from_variant(value);
  } catch (...) {
    VariantClear(&value);
    throw;
  }
  VariantClear(&value);
  return result;
}

void BagAdapter::Write(std::string_view name, const Variant& value, const Variant&) {
  const std::wstring wide = to_utf16(name);
  VARIANT v;
  VariantInit(&v);
  to_variant(value, &v);
  const HRESULT hr = bag_->Write(wide.c_str(), &v);
  VariantClear(&v);
  if (FAILED(hr) && SUCCEEDED(failure)) failure = hr;
}

}  // namespace vintrel::com
