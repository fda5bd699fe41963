#include "automation/collection.hpp"

namespace vintrel::automation {

namespace {

void expect_args(const std::vector<Variant>& args, std::size_t count) {
  if (args.size() != count) raise(err::wrong_arg_count);
}

}  // namespace

std::vector<Variant> CollectionBase::Items() const {
  std::vector<Variant> items;
  const std::int32_t count = Count();
  for (std::int32_t n = 1; n <= count; ++n) items.push_back(ItemValue(n));
  return items;
}

Variant CollectionBase::get(std::string_view name) const {
  if (same_name(name, "Count")) return Variant(Count());
  if (same_name(name, "_NewEnum")) return Variant(std::static_pointer_cast<Object>(NewEnum()));
  // Reading a method as a property is a call without its argument: the
  // member exists, so the error is the argument count, not "no such member".
  if (name.empty() || same_name(name, "Item") || same_name(name, "Add") || same_name(name, "Remove"))
    raise(err::wrong_arg_count);
  return Object::get(name);
}

Variant CollectionBase::call(std::string_view name, std::vector<Variant>& args) {
  // Item is the default member: `c(1)` reaches it with an empty name.
  if (name.empty() || same_name(name, "Item")) {
    expect_args(args, 1);
    return ItemValue(to_i4(args[0]));
  }
  if (same_name(name, "Count")) {
    expect_args(args, 0);
    return Variant(Count());
  }
  if (same_name(name, "Add")) {
    expect_args(args, 1);
    AddValue(args[0]);
    return Variant();
  }
  if (same_name(name, "Remove")) {
    expect_args(args, 1);
    Remove(to_i4(args[0]));
    return Variant();
  }
  if (same_name(name, "_NewEnum")) {
    expect_args(args, 0);
    return Variant(std::static_pointer_cast<Object>(NewEnum()));
  }
  return Object::call(name, args);
}

std::vector<std::string> CollectionBase::member_names() const { return {"Add", "Count", "Item", "Remove"}; }

}  // namespace vintrel::automation
