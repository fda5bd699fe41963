#include "automation/collection.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "automation/slots.hpp"
#include "support/errors.hpp"

namespace vintrel::automation {
namespace {

using testing::error_of;

class Thing final : public Object {
 public:
  explicit Thing(int id = 0) : id_(id) {}
  std::string_view class_name() const override { return "Thing"; }
  int id() const { return id_; }

 private:
  int id_;
};

class Other final : public Object {
 public:
  std::string_view class_name() const override { return "Other"; }
};

Variant as_value(std::shared_ptr<Object> object) { return Variant(std::move(object)); }

int id_of(const Variant& v) { return std::dynamic_pointer_cast<Thing>(to_object(v))->id(); }

TEST(Collection, ItemsAreNumberedFromOneInOrderAdded) {
  Collection<Thing> things;
  EXPECT_EQ(things.Count(), 0);
  things.Add(std::make_shared<Thing>(10));
  things.Add(std::make_shared<Thing>(20));
  EXPECT_EQ(things.Count(), 2);
  EXPECT_EQ(things.Item(1).id(), 10);
  EXPECT_EQ(things.Item(2).id(), 20);
  EXPECT_EQ(id_of(things.ItemValue(2)), 20);
  things.Remove(1);
  EXPECT_EQ(things.Count(), 1);
  EXPECT_EQ(things.Item(1).id(), 20);
}

TEST(Collection, MissingItemRaisesSubscriptOutOfRange) {
  Collection<Thing> things;
  things.Add(std::make_shared<Thing>(1));
  EXPECT_EQ(error_of([&] { things.Item(0); }), err::subscript);
  EXPECT_EQ(error_of([&] { things.Item(2); }), err::subscript);
  EXPECT_EQ(error_of([&] { things.ItemValue(-1); }), err::subscript);
  EXPECT_EQ(error_of([&] { things.Remove(2); }), err::subscript);
  EXPECT_EQ(things.Count(), 1);
}

TEST(Collection, AddValueAcceptsOnlyItsOwnClass) {
  Collection<Thing> things;
  things.AddValue(as_value(std::make_shared<Thing>(5)));
  EXPECT_EQ(things.Count(), 1);
  EXPECT_EQ(error_of([&] { things.AddValue(as_value(std::make_shared<Other>())); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { things.AddValue(Variant(std::shared_ptr<Object>())); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { things.AddValue(Variant(5)); }), err::object_required);
  EXPECT_EQ(things.Count(), 1);
}

TEST(CollectionScript, MembersReachedByName) {
  Collection<Thing> things;
  CollectionBase& script = things;
  std::vector<Variant> add{as_value(std::make_shared<Thing>(7))};
  EXPECT_TRUE(script.call("add", add).is_empty());
  std::vector<Variant> add_again{as_value(std::make_shared<Thing>(8))};
  script.call("Add", add_again);

  EXPECT_EQ(to_i4(script.get("Count")), 2);
  EXPECT_EQ(to_i4(script.get("COUNT")), 2);
  std::vector<Variant> none;
  EXPECT_EQ(to_i4(script.call("Count", none)), 2);

  std::vector<Variant> first{Variant(1)};
  EXPECT_EQ(id_of(script.call("Item", first)), 7);
  // Item is the default member, and its index converts like any number.
  std::vector<Variant> second{Variant("2")};
  EXPECT_EQ(id_of(script.call("", second)), 8);

  std::vector<Variant> remove{Variant(1.0)};
  script.call("Remove", remove);
  EXPECT_EQ(to_i4(script.get("Count")), 1);
  EXPECT_EQ(id_of(script.call("Item", first)), 8);
  EXPECT_EQ(script.class_name(), "Collection");
  EXPECT_EQ(script.member_names(), (std::vector<std::string>{"Add", "Count", "Item", "Remove"}));
}

TEST(CollectionScript, WrongArgumentsAndUnknownNamesRaise) {
  Collection<Thing> things;
  things.Add(std::make_shared<Thing>(1));
  CollectionBase& script = things;
  std::vector<Variant> none;
  std::vector<Variant> one{Variant(1)};
  std::vector<Variant> two{Variant(1), Variant(1)};
  std::vector<Variant> text{Variant("first")};
  EXPECT_EQ(error_of([&] { script.call("Item", none); }), err::wrong_arg_count);
  EXPECT_EQ(error_of([&] { script.call("Item", two); }), err::wrong_arg_count);
  EXPECT_EQ(error_of([&] { script.call("Count", one); }), err::wrong_arg_count);
  EXPECT_EQ(error_of([&] { script.call("Add", none); }), err::wrong_arg_count);
  EXPECT_EQ(error_of([&] { script.call("Remove", two); }), err::wrong_arg_count);
  EXPECT_EQ(error_of([&] { script.get("Item"); }), err::wrong_arg_count);
  EXPECT_EQ(error_of([&] { script.call("Item", text); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { script.call("Clear", none); }), err::no_member);
  EXPECT_EQ(error_of([&] { script.get("Length"); }), err::no_member);
  EXPECT_EQ(error_of([&] { script.put("Count", Variant(3)); }), err::no_member);
  EXPECT_EQ(things.Count(), 1);
}

TEST(SlotArray, IndexOutsideBoundsRaisesSubscriptOutOfRange) {
  SlotArray<int> slots;
  slots[1] = 11;
  slots[100] = 100;
  EXPECT_EQ(slots[1], 11);
  EXPECT_EQ(slots[100], 100);
  EXPECT_EQ(slots[50], 0);
  EXPECT_EQ(error_of([&] { slots[0]; }), err::subscript);
  EXPECT_EQ(error_of([&] { slots[101]; }), err::subscript);
  EXPECT_EQ(error_of([&] { slots[-1]; }), err::subscript);
  EXPECT_TRUE(SlotArray<int>::contains(1));
  EXPECT_FALSE(SlotArray<int>::contains(101));

  const SlotArray<int, 0, 3>& zero_based = SlotArray<int, 0, 3>{};
  EXPECT_EQ(zero_based[0], 0);
  EXPECT_EQ(error_of([&] { zero_based[4]; }), err::subscript);
}

}  // namespace
}  // namespace vintrel::automation
