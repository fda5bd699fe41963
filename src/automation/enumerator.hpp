#pragma once
// Enumeration of a collection, as For Each walks it.

#include <cstdint>
#include <memory>
#include <vector>

#include "automation/automation.hpp"

namespace vintrel::automation {

/// Walks the items a collection held when the walk began: items added or
/// removed meanwhile neither skip nor repeat any.
class Enumerator final : public Object {
 public:
  explicit Enumerator(std::vector<Variant> items) : items_(std::move(items)) {}

  std::string_view class_name() const override { return "Enumerator"; }
  /// The next item into `item`; false, with `item` untouched, at the end.
  bool Next(Variant& item);
  /// Back to the first item.
  void Reset() { next_ = 0; }
  /// Passes over up to `count` items; false when fewer were left.
  bool Skip(std::int32_t count);
  /// An enumerator of the same items at the same place.
  std::shared_ptr<Enumerator> Clone() const;

  /// By name: "Next" gives the next item, Empty at the end; "Skip" (count)
  /// gives whether that many were left; "Reset"; "Clone".
  Variant call(std::string_view name, std::vector<Variant>& args) override;
  std::vector<std::string> member_names() const override;

 private:
  std::vector<Variant> items_;
  std::size_t next_ = 0;
};

}  // namespace vintrel::automation
