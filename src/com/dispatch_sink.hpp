#pragma once
// One listener of __UserControl1, as a script host advises it.

#include <oaidl.h>
#include <windows.h>

#include <string_view>
#include <utility>
#include <vector>

#include "com/unknown.hpp"
#include "control/interfaces/interfaces.hpp"

namespace vintrel::com {

/// The listener's IDispatch gets each event by identifier, arguments last
/// first, as script hosts expect of a source interface.
class DispatchSink final : public control::EventSink {
 public:
  explicit DispatchSink(Ref<IDispatch> sink) : sink_(std::move(sink)) {}

  void Invoke(control::DispId id, std::string_view name, std::vector<automation::Variant>& args) override;

 private:
  Ref<IDispatch> sink_;
};

}  // namespace vintrel::com
