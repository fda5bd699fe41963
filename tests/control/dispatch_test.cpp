// The control's interface through its dispatch: names and identifiers, reads,
// argument counts, writes and how they convert.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "control/dispatch_rig.hpp"
#include "control/surface.hpp"
#include "support/control_bytes.hpp"

namespace vintrel {
namespace {

using namespace dispatch_rig;

TEST(ControlInterface, NamesAndIdentifiersMatchTheTablesInInterfaceOrder) {
  Surface s;
  std::vector<std::string> names;
  for (const auto& row : interface_rows) names.emplace_back(row.name);
  EXPECT_EQ(s.object.member_names(), names);
  for (const auto& row : interface_rows) {
    EXPECT_EQ(s.object.GetIDsOfNames(row.name), id_of(row)) << row.name;
    // Automation looks names up in any letter case.
    EXPECT_EQ(s.object.GetIDsOfNames(upper(row.name)), id_of(row)) << row.name;
  }
  // The listing for people shows the same identifiers.
  const std::string listing = control::typelib::listing();
  for (const auto& row : interface_rows) {
    char id[12];
    std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(id_of(row)));
    const auto at = listing.find(std::string(id) + "  ");
    ASSERT_NE(at, std::string::npos) << row.name;
    const std::string line = listing.substr(at, listing.find('\n', at) - at);
    EXPECT_NE(line.find(std::string(" ") + row.name), std::string::npos) << line;
  }
}

TEST(ControlInterface, EveryReadableMemberAnswersAlikeByNameAndByIdentifierWithItsType) {
  Surface s;
  // Progress properties describe the current file, so there must be one.
  s.c.AddFile("http://srv/a.bin");
  s.host.dialog.answers.push_back("/dl");
  s.c.StartQueue();
  for (const auto& row : interface_rows) {
    if (row.is == Is::method) continue;
    const Variant by_name = s.object.get(row.name);
    const Variant by_id = s.invoke(id_of(row), invoke::property_get);
    EXPECT_EQ(by_name.type(), row.type) << row.name;
    EXPECT_EQ(by_id.type(), row.type) << row.name;
    EXPECT_EQ(text_of(by_name), text_of(by_id)) << row.name;
  }
  // The one progress property that is a number.
  EXPECT_EQ(s.object.get("dTotalFiles").i2(), 1);
  EXPECT_EQ(s.object.get("dCurrentFileName").bstr(), "/dl/a.bin");
}

TEST(ControlInterface, EveryMethodChecksItsArgumentCountByNameAndByIdentifier) {
  Surface s;
  for (const auto& row : interface_rows) {
    if (row.is != Is::method) continue;
    auto too_many = arguments(row.parameters + 1);
    EXPECT_EQ(error_of([&] { s.object.Invoke(id_of(row), invoke::method, too_many); }), err::wrong_arg_count)
        << row.name;
    EXPECT_EQ(error_of([&] { s.call(row.name, arguments(row.parameters + 1)); }), err::wrong_arg_count) << row.name;
    if (row.parameters > 0) {
      auto too_few = arguments(row.parameters - 1);
      EXPECT_EQ(error_of([&] { s.object.Invoke(id_of(row), invoke::method, too_few); }), err::wrong_arg_count)
          << row.name;
      // Reading a method that takes arguments is a call without them.
      EXPECT_EQ(error_of([&] { s.object.get(row.name); }), err::wrong_arg_count) << row.name;
    }
  }
  // None of the refused calls ran.
  EXPECT_TRUE(s.host.events.empty());
  EXPECT_TRUE(s.platform.opened.empty());
  EXPECT_EQ(s.c.addedURLs[1], "");
}

TEST(ControlInterface, ReadOnlyPropertiesAndMethodsRefuseWrites) {
  Surface s;
  for (const auto& row : interface_rows) {
    if (row.is != Is::reader && row.is != Is::method) continue;
    std::vector<Variant> value{Variant("1")};
    EXPECT_EQ(error_of([&] { s.object.Invoke(id_of(row), invoke::property_put, value); }), err::no_member) << row.name;
    EXPECT_EQ(error_of([&] { s.object.put(row.name, Variant("1")); }), err::no_member) << row.name;
  }
  EXPECT_TRUE(s.host.events.empty());
}

TEST(ControlInterface, DataMemberWrittenThroughTheInterfaceChangesOnlyThatMember) {
  std::size_t index = 0;
  for (const auto& row : interface_rows) {
    if (row.is != Is::member) continue;
    for (bool by_name : {true, false}) {
      Surface s;
      const auto before = state_of(s);
      const Variant value = new_value_for(row);
      if (by_name)
        s.object.put(row.name, value);
      else
        s.invoke(id_of(row), invoke::property_put, {value});
      const auto after = state_of(s);
      for (std::size_t k = 0; k < before.size(); ++k) {
        if (k == index)
          EXPECT_NE(after[k], before[k]) << row.name << " was not written";
        else
          EXPECT_EQ(after[k], before[k]) << row.name << " also changed entry " << k;
      }
      const Variant read = s.object.get(row.name);
      EXPECT_EQ(read.type(), row.type) << row.name;
      EXPECT_EQ(text_of(read), row.type == VarType::I2 || row.type == VarType::I4 ? "123" : text_of(value)) << row.name;
    }
    ++index;
  }
}

TEST(ControlInterface, DataMembersConvertTheAutomationWay) {
  Surface s;
  EXPECT_EQ(error_of([&] { s.object.put("CurFile", Variant("80a")); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { s.object.put("CurFile", Variant(std::int32_t{40000})); }), err::overflow);
  EXPECT_EQ(s.c.CurFile, 1);
  s.object.put("curfile", Variant(2.5));  // halves go to even
  EXPECT_EQ(s.c.CurFile, 2);
  s.object.put("startPinging", Variant("True"));
  EXPECT_TRUE(s.c.startPinging);
  s.object.put("theerrdesc", Variant(std::int16_t{5}));
  EXPECT_EQ(s.c.theerrdesc, "5");
  const DispId cur_file = 0x40030023;
  EXPECT_EQ(error_of([&] { s.invoke(cur_file, invoke::property_put, {}); }), err::wrong_arg_count);
  EXPECT_EQ(error_of([&] {
              s.invoke(cur_file, invoke::property_put, {Variant("3"), Variant("4")});
            }),
            err::wrong_arg_count);
  // A plain value has no reference to assign.
  EXPECT_EQ(error_of([&] { s.invoke(cur_file, invoke::property_putref, {Variant("3")}); }), err::no_member);
  EXPECT_EQ(s.c.CurFile, 2);
}

// The page's cookie text and address go into every request: script may
// write them, but not with a byte that would end a header line.
TEST(ControlInterface, CookieAndPageAddressRefuseControlBytesAndKeepTheirValue) {
  for (const char* member : {"cookielist", "containerURL"}) {
    for (const std::string& byte : testing::control_bytes()) {
      Surface s;
      s.object.put(member, Variant("kept=1"));
      const DispId id = s.object.GetIDsOfNames(member);
      for (bool by_name : {true, false}) {
        const Variant value("a=1" + byte + "X-Injected: 1");
        try {
          if (by_name)
            s.object.put(member, value);
          else
            s.invoke(id, invoke::property_put, {value});
          ADD_FAILURE() << member << " took " << testing::control_name(byte);
        } catch (const automation::AutomationError& e) {
          EXPECT_EQ(e.number(), err::invalid_call);
          EXPECT_NE(e.description().find(testing::control_name(byte)), std::string::npos) << e.description();
        }
        EXPECT_EQ(s.object.get(member).bstr(), "kept=1");
      }
    }
  }
}

TEST(ControlInterface, MethodArgumentsConvertToTheirParameterTypes) {
  Surface s;
  EXPECT_EQ(error_of([&] { s.call("GotoFile", {Variant("abc")}); }), err::type_mismatch);
  EXPECT_EQ(error_of([&] { s.call("GotoFile", {Variant(std::int32_t{40000})}); }), err::overflow);
  EXPECT_EQ(error_of([&] { s.call("AddFile", {Variant(std::shared_ptr<automation::Object>())}); }), err::type_mismatch);
  EXPECT_EQ(s.c.numfilesadded, 0);
  s.call("AddFile", {Variant(std::int32_t{42})});
  EXPECT_EQ(s.c.addedURLs[1], "42");
  const Variant answer = s.call("BrowseCallbackProcStr", {Variant("1"), Variant(2.0), Variant(true), Variant("4")});
  EXPECT_EQ(answer.type(), VarType::I4);
  EXPECT_EQ(error_of([&] {
              s.call("BrowseCallbackProcStr", {Variant("x"), Variant(1), Variant(1), Variant(1)});
            }),
            err::type_mismatch);
}

}  // namespace
}  // namespace vintrel
