#pragma once
// The automation collection: items numbered from 1 in the order added.

#include <cstdint>
#include <memory>
#include <vector>

#include "automation/automation.hpp"
#include "automation/enumerator.hpp"

namespace vintrel::automation {

/// What script sees of any collection: Add, Count, Item, Remove.
class CollectionBase : public Object {
 public:
  std::string_view class_name() const override { return "Collection"; }
  /// Number of items.
  virtual std::int32_t Count() const = 0;
  /// Item `index` (from 1) as a value; a missing item fails with 9.
  virtual Variant ItemValue(std::int32_t index) const = 0;
  /// Adds a value at the end; a value of the wrong kind fails with 13.
  virtual void AddValue(const Variant& item) = 0;
  /// Removes item `index`; a missing item fails with 9.
  virtual void Remove(std::int32_t index) = 0;
  /// The items as values, in order.
  std::vector<Variant> Items() const;
  /// An enumerator of the items; script reaches it as "_NewEnum".
  std::shared_ptr<Enumerator> NewEnum() const { return std::make_shared<Enumerator>(Items()); }

  Variant get(std::string_view name) const override;
  Variant call(std::string_view name, std::vector<Variant>& args) override;
  std::vector<std::string> member_names() const override;
};

/// A collection whose items are objects of class T.
template <class T>
class Collection final : public CollectionBase {
 public:
  /// Adds an item at the end.
  void Add(std::shared_ptr<T> item) { items_.push_back(std::move(item)); }
  /// Item `index` (from 1); a missing item fails with 9.
  T& Item(std::int64_t index) const { return *items_[offset(index)]; }
  /// Item `index` (from 1) as a shared reference; a missing item fails with 9.
  const std::shared_ptr<T>& ItemPtr(std::int64_t index) const { return items_[offset(index)]; }

  std::int32_t Count() const override { return static_cast<std::int32_t>(items_.size()); }
  Variant ItemValue(std::int32_t index) const override {
    return Variant(std::static_pointer_cast<Object>(ItemPtr(index)));
  }
  void AddValue(const Variant& item) override {
    auto typed = std::dynamic_pointer_cast<T>(to_object(item));
    if (!typed) raise(err::type_mismatch);
    Add(std::move(typed));
  }
  void Remove(std::int32_t index) override {
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(offset(index)));
  }

 private:
  std::size_t offset(std::int64_t index) const {
    if (index < 1 || index > static_cast<std::int64_t>(items_.size())) raise(err::subscript);
    return static_cast<std::size_t>(index - 1);
  }
  std::vector<std::shared_ptr<T>> items_;
};

}  // namespace vintrel::automation
