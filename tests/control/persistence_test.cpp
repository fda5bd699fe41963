#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "control/surface.hpp"

namespace vintrel {
namespace {

using automation::Variant;
using automation::VarType;
using testing::error_of;

constexpr control::DispId url = 0x6803000B;

// A bag that remembers what the control handed it.
class WatchingBag final : public control::PropertyBag {
 public:
  control::MemoryPropertyBag inner;
  std::string last_read;
  Variant last_read_default;
  Variant last_write_default = Variant("unset");

  Variant Read(std::string_view name, const Variant& default_value) override {
    last_read = name;
    last_read_default = default_value;
    return inner.Read(name, default_value);
  }
  void Write(std::string_view name, const Variant& value, const Variant& default_value) override {
    last_write_default = default_value;
    inner.Write(name, value, default_value);
  }
};

struct Persistence : ::testing::Test {
  testing::Surface s;
  WatchingBag bag;
};

TEST_F(Persistence, URLLoadsFromTheBagAndSavesBack) {
  bag.inner.Write("URL", Variant("http://page.test/list.txt"), Variant());
  s.object.Load(bag);
  EXPECT_EQ(bag.last_read, "URL");
  // The default offered is the empty object reference.
  EXPECT_EQ(bag.last_read_default.type(), VarType::Dispatch);
  EXPECT_EQ(bag.last_read_default.object(), nullptr);
  EXPECT_EQ(s.object.get("URL").bstr(), "http://page.test/list.txt");
  EXPECT_EQ(s.invoke(url, control::invoke::property_get).bstr(), "http://page.test/list.txt");

  WatchingBag saved;
  s.object.Save(saved);
  EXPECT_EQ(saved.inner.Read("URL", Variant()).bstr(), "http://page.test/list.txt");
  EXPECT_EQ(saved.last_write_default.type(), VarType::Dispatch);
  EXPECT_EQ(saved.inner.size(), 1u);
}

TEST_F(Persistence, AnyValueWithATextFormLoads) {
  bag.inner.Write("url", Variant(std::int32_t{42}), Variant());  // names in any letter case
  s.object.Load(bag);
  EXPECT_EQ(s.c.urlValue, "42");
}

TEST_F(Persistence, ABagWithoutURLFailsTheLoadAndLeavesURLAsItWas) {
  EXPECT_EQ(error_of([&] { s.object.Load(bag); }), automation::err::type_mismatch);
  EXPECT_EQ(s.object.get("URL").bstr(), "");

  s.object.put("URL", Variant("kept"));
  EXPECT_EQ(error_of([&] { s.object.Load(bag); }), automation::err::type_mismatch);
  EXPECT_EQ(s.c.urlValue, "kept");
}

TEST_F(Persistence, AnEmptyURLSavesAndLoadsAgain) {
  // Dropping a value equal to the default would make the next load fail.
  s.object.Save(bag);
  EXPECT_TRUE(bag.inner.contains("URL"));
  s.object.put("URL", Variant("other"));
  s.object.Load(bag);
  EXPECT_EQ(s.c.urlValue, "");
}

TEST_F(Persistence, URLPropertyStoresTextAndNothingElse) {
  s.invoke(url, control::invoke::property_put, {Variant(std::int16_t{7})});
  EXPECT_EQ(s.c.urlValue, "7");
  EXPECT_EQ(error_of([&] { s.object.put("URL", Variant(std::shared_ptr<automation::Object>())); }),
            automation::err::type_mismatch);
  EXPECT_EQ(s.c.urlValue, "7");
  EXPECT_EQ(s.c.containerURL, "");  // not the page's address
  EXPECT_TRUE(s.host.events.empty());
}

}  // namespace
}  // namespace vintrel
