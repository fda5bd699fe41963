#include "com/dispatch_sink.hpp"

#include "com/values.hpp"

namespace vintrel::com {

void DispatchSink::Invoke(control::DispId id, std::string_view, std::vector<automation::Variant>& args) {
  std::vector<VARIANT> values(args.size());
  for (auto& v : values) VariantInit(&v);
  try {
    for (std::size_t k = 0; k < args.size(); ++k) to_variant(args[k], &values[args.size() - 1 - k]);
  } catch (...) {
    for (auto& v : values) VariantClear(&v);
    throw;
  }
  DISPPARAMS params{values.data(), nullptr, static_cast<UINT>(values.size()), 0};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO info{};
  UINT bad_arg = 0;
  // What a listener's failure means is the listener's business: the
  // control goes on and the other listeners still hear the event.
  sink_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &info, &bad_arg);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  VariantClear(&result);
  for (auto& v : values) VariantClear(&v);
}

}  // namespace vintrel::com
