#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "control/surface.hpp"

namespace vintrel {
namespace {

using automation::Variant;
using automation::VarType;
using control::DispId;
using testing::error_of;
using testing::Surface;
namespace invoke = control::invoke;
namespace err = automation::err;

// The interface as its tables give it, written out here on purpose: the
// dispatch must agree with this copy, not with itself.
enum class Is { member, method, reader, property };
struct Row {
  const char* name;
  std::uint32_t high;
  std::uint32_t low;
  Is is;
  int parameters;
  VarType type;  // of a member or reader; Empty for methods
};

const Row interface_rows[] = {
    {"DownloadFiles", 0x4003, 25, Is::member, 0, VarType::Dispatch},
    {"curcnt", 0x4003, 27, Is::member, 0, VarType::I2},
    {"psIndex", 0x4003, 28, Is::member, 0, VarType::I2},
    {"curpsIndex", 0x4003, 29, Is::member, 0, VarType::I2},
    {"i", 0x4003, 30, Is::member, 0, VarType::I2},
    {"madeAllPingConnections", 0x4003, 31, Is::member, 0, VarType::Bool},
    {"startPinging", 0x4003, 32, Is::member, 0, VarType::Bool},
    {"curpingws", 0x4003, 33, Is::member, 0, VarType::I2},
    {"qPointer", 0x4003, 34, Is::member, 0, VarType::I2},
    {"CurFile", 0x4003, 35, Is::member, 0, VarType::I2},
    {"paused", 0x4003, 36, Is::member, 0, VarType::I2},
    {"collectionPointer", 0x4003, 37, Is::member, 0, VarType::I2},
    {"chosenSaveFile", 0x4003, 38, Is::member, 0, VarType::Bstr},
    {"numfilesadded", 0x4003, 39, Is::member, 0, VarType::I2},
    {"sBuffer", 0x4003, 40, Is::member, 0, VarType::Bstr},
    {"dldirectory", 0x4003, 41, Is::member, 0, VarType::Bstr},
    {"dlBrowseTitle", 0x4003, 42, Is::member, 0, VarType::Bstr},
    {"cookielist", 0x4003, 43, Is::member, 0, VarType::Bstr},
    {"containerURL", 0x4003, 44, Is::member, 0, VarType::Bstr},
    {"theerrnumber", 0x4003, 45, Is::member, 0, VarType::I2},
    {"theerrdesc", 0x4003, 46, Is::member, 0, VarType::Bstr},
    {"BrowseCallbackProcStr", 0x6003, 12, Is::method, 4, VarType::Empty},
    {"StatusChange", 0x6003, 13, Is::method, 1, VarType::Empty},
    {"FileComplete", 0x6003, 14, Is::method, 1, VarType::Empty},
    {"TransferComplete", 0x6003, 15, Is::method, 0, VarType::Empty},
    {"AddFile", 0x6003, 16, Is::method, 1, VarType::Empty},
    {"SetDirectory", 0x6003, 17, Is::method, 1, VarType::Empty},
    {"SetDLText", 0x6003, 18, Is::method, 1, VarType::Empty},
    {"ExecFile", 0x6003, 19, Is::method, 1, VarType::Empty},
    {"PauseQueue", 0x6003, 20, Is::method, 0, VarType::Empty},
    {"DeQuery", 0x6003, 21, Is::method, 1, VarType::Empty},
    {"ResumeQueue", 0x6003, 22, Is::method, 0, VarType::Empty},
    {"CancelQueue", 0x6003, 23, Is::method, 0, VarType::Empty},
    {"StartQueue", 0x6003, 24, Is::method, 0, VarType::Empty},
    {"str2bin", 0x6003, 32, Is::method, 1, VarType::Empty},
    {"URL", 0x6803, 11, Is::property, 0, VarType::Bstr},
    {"dBytesTotal", 0x6803, 10, Is::reader, 0, VarType::Bstr},
    {"dBytesTransferred", 0x6803, 9, Is::reader, 0, VarType::Bstr},
    {"dCurrentFileName", 0x6803, 8, Is::reader, 0, VarType::Bstr},
    {"dCurrentFile", 0x6803, 7, Is::reader, 0, VarType::Bstr},
    {"dPercentComplete", 0x6803, 6, Is::reader, 0, VarType::Bstr},
    {"dRate", 0x6803, 5, Is::reader, 0, VarType::Bstr},
    {"dRemainingTime", 0x6803, 4, Is::reader, 0, VarType::Bstr},
    {"dErrorDesc", 0x6803, 3, Is::reader, 0, VarType::Bstr},
    {"dErrorNumber", 0x6803, 2, Is::reader, 0, VarType::Bstr},
    {"dTotalFiles", 0x6803, 1, Is::reader, 0, VarType::I2},
    {"dChosenPath", 0x6803, 0, Is::reader, 0, VarType::Bstr},
    {"GotoFile", 0x6003, 37, Is::method, 1, VarType::Empty},
    {"downloadQueue", 0x6003, 38, Is::method, 0, VarType::Empty},
    {"addFilesToQueue", 0x6003, 39, Is::method, 0, VarType::Empty},
    {"OpenIt", 0x6003, 42, Is::method, 1, VarType::Empty},
    {"CheckFreeSpace", 0x6003, 43, Is::method, 1, VarType::Empty},
};

DispId id_of(const Row& row) { return static_cast<DispId>(row.high << 16 | row.low); }

std::string upper(std::string text) {
  for (auto& ch : text)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return text;
}

std::vector<Variant> arguments(int count) {
  return std::vector<Variant>(static_cast<std::size_t>(count), Variant("1"));
}

// Everything a write could disturb: the public members in table order, then
// the state behind them, the host's events and the sockets.
std::vector<std::string> state_of(Surface& s) {
  const control::UserControl1& c = s.c;
  auto n = [](auto v) { return std::to_string(v); };
  return {std::to_string(reinterpret_cast<std::uintptr_t>(c.DownloadFiles.get())),
          n(c.curcnt),
          n(c.psIndex),
          n(c.curpsIndex),
          n(c.i),
          n(c.madeAllPingConnections),
          n(c.startPinging),
          n(c.curpingws),
          n(c.qPointer),
          n(c.CurFile),
          n(c.paused),
          n(c.collectionPointer),
          c.chosenSaveFile,
          n(c.numfilesadded),
          c.sBuffer,
          c.dldirectory,
          c.dlBrowseTitle,
          c.cookielist,
          c.containerURL,
          n(c.theerrnumber),
          c.theerrdesc,
          c.urlValue,
          n(c.totalFiles),
          n(c.DownloadFiles->Count()),
          c.addedURLs[1],
          n(s.host.events.size()),
          n(s.platform.array(0).element(1).loads),
          n(s.platform.array(1).element(1).loads)};
}

// A value of the member's type unlike its initial value, handed over in a
// form the member must convert.
Variant new_value_for(const Row& row) {
  switch (row.type) {
    case VarType::I2:
      return Variant("123");
    case VarType::Bool:
      return Variant(true);
    case VarType::Dispatch:
      return Variant(std::static_pointer_cast<automation::Object>(std::make_shared<queue::DownloadFileCollection>()));
    default:
      return Variant("written");
  }
}

std::string text_of(const Variant& v) {
  if (v.type() == VarType::Dispatch) return std::to_string(reinterpret_cast<std::uintptr_t>(v.object().get()));
  return automation::to_bstr(v);
}

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
      EXPECT_EQ(text_of(read), row.type == VarType::I2 ? "123" : text_of(value)) << row.name;
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

TEST(ControlInterface, UnknownIdentifiersNamesAndKindsAreRefused) {
  Surface s;
  // Gaps in the identifiers belong to members script does not see.
  for (DispId id : {0x60030019, 0x4003001A, 0x6803000C, 0, -1})
    EXPECT_EQ(error_of([&] { s.invoke(id, invoke::method | invoke::property_get); }), err::no_member) << id;
  for (const char* name : {"urlValue", "totalFiles", "Timer1_Timer", "OnStatusChange", "", "NoSuchMember"})
    EXPECT_EQ(error_of([&] { s.object.GetIDsOfNames(name); }), err::no_member) << name;
  EXPECT_EQ(error_of([&] { s.object.get("totalFiles"); }), err::no_member);
  const DispId add_file = 0x60030010;
  const DispId cur_file = 0x40030023;
  // A method is not a property, nor a property a method.
  EXPECT_EQ(error_of([&] { s.invoke(add_file, invoke::property_get, {Variant("u")}); }), err::no_member);
  EXPECT_EQ(error_of([&] { s.invoke(cur_file, invoke::method); }), err::no_member);
  EXPECT_EQ(error_of([&] { s.invoke(cur_file, 0); }), err::no_member);
  EXPECT_EQ(s.c.numfilesadded, 0);
}

TEST(ControlInterface, MethodsReachTheEngineByIdentifier) {
  Surface s;
  s.invoke(0x60030010, invoke::method, {Variant("http://srv/a.bin")});
  s.invoke(0x60030011, invoke::method, {Variant("/start")});
  s.invoke(0x60030012, invoke::method, {Variant("Pick one")});
  s.invoke(0x60030013, invoke::method, {Variant("/dl/a.bin")});
  s.invoke(0x6003002A, invoke::method, {Variant("/dl")});
  s.invoke(0x6003000D, invoke::method, {Variant("Hello")});
  EXPECT_EQ(s.c.addedURLs[1], "http://srv/a.bin");
  EXPECT_EQ(s.c.dldirectory, "/start");
  EXPECT_EQ(s.c.dlBrowseTitle, "Pick one");
  EXPECT_EQ(s.platform.opened, (std::vector<std::string>{"/dl/a.bin", "/dl"}));
  EXPECT_EQ(s.host.events, (std::vector<std::string>{"OnStatusChange:Hello"}));

  s.host.dialog.answers.push_back("/dl");
  s.invoke(0x60030018, invoke::method);  // StartQueue
  EXPECT_EQ(s.host.dialog.last_title, "Pick one");
  EXPECT_EQ(s.c.totalFiles, 1);
  s.invoke(0x60030025, invoke::method, {Variant("2")});  // GotoFile past the end
  EXPECT_EQ(s.host.events.back(), "OnTransferComplete");
}

TEST(ControlInterface, ByReferenceArgumentsReachTheProcedureAsTheCallerHasThem) {
  Surface s;
  std::vector<Variant> args{Variant("file.zip?session=1")};
  EXPECT_EQ(s.object.Invoke(0x60030015, invoke::method, args).bstr(), "file.zip");
  EXPECT_EQ(args[0].bstr(), "file.zip?session=1");

  // Not converted on the way in, unlike an argument passed by value.
  std::vector<Variant> number{Variant(std::int32_t{42})};
  EXPECT_EQ(s.object.Invoke(0x60030015, invoke::method, number).bstr(), "42");
  EXPECT_EQ(number[0].type(), VarType::I4);

  std::vector<Variant> text{Variant("AB")};
  const Variant bytes = s.object.call("str2bin", text);
  EXPECT_EQ(bytes.bytes(), (std::vector<std::uint8_t>{'A', 'B'}));
  EXPECT_EQ(s.c.i, 3);  // its loop counter is the control's member
}

TEST(ControlInterface, DownloadFilesReadsTheCollectionAndAssignsAReference) {
  Surface s;
  const DispId download_files = 0x40030019;
  EXPECT_EQ(s.object.get("DownloadFiles").object().get(), s.c.DownloadFiles.get());

  auto mine = std::make_shared<queue::DownloadFileCollection>();
  s.invoke(download_files, invoke::property_putref, {Variant(std::static_pointer_cast<automation::Object>(mine))});
  EXPECT_EQ(s.c.DownloadFiles, mine);  // the same collection, not a copy
  mine->Add(std::make_shared<queue::DownloadFile>());
  EXPECT_EQ(s.c.DownloadFiles->Count(), 1);

  // Only a collection of files will do: the engine reaches records through it.
  auto servers = std::make_shared<queue::ServerCollection>();
  EXPECT_EQ(error_of([&] {
              s.invoke(download_files, invoke::property_putref,
                       {Variant(std::static_pointer_cast<automation::Object>(servers))});
            }),
            err::type_mismatch);
  EXPECT_EQ(error_of([&] { s.object.put("DownloadFiles", Variant(std::shared_ptr<automation::Object>())); }),
            err::type_mismatch);
  EXPECT_EQ(error_of([&] { s.object.put("DownloadFiles", Variant("files")); }), err::object_required);
  EXPECT_EQ(s.c.DownloadFiles, mine);
}

TEST(ControlInterface, CollectionsAndRecordsAreReachedByName) {
  Surface s;
  s.c.AddFile("http://srv/a.bin");
  s.c.AddFile("http://mirror:8080/b.bin?x=1");
  s.host.dialog.answers.push_back("/dl");
  s.call("StartQueue");

  const Variant files = s.object.get("DownloadFiles");
  EXPECT_EQ(automation::to_object(files)->get("Count").i4(), 2);
  const Variant second = testing::call(files, "", {Variant(2)});  // Item is the default member
  EXPECT_EQ(automation::to_object(second)->get("localfilename").bstr(), "/dl/b.bin");
  const Variant servers = automation::to_object(second)->get("remoteServerLocs");
  const Variant server = testing::call(servers, "Item", {Variant(1)});
  EXPECT_EQ(automation::to_object(server)->get("servName").bstr(), "mirror");
  EXPECT_EQ(automation::to_object(server)->get("PortNum").i4(), 8080);

  automation::to_object(second)->put("downloadStatus", Variant("Completed"));
  EXPECT_EQ(s.c.DownloadFiles->Item(2).downloadStatus, "Completed");
  EXPECT_EQ(error_of([&] { automation::to_object(server)->put("PortNum", Variant("80a")); }), err::type_mismatch);

  // For Each over the files.
  const Variant walk = testing::call(files, "_NewEnum");
  std::vector<std::string> names;
  for (Variant item = testing::call(walk, "Next"); !item.is_empty(); item = testing::call(walk, "Next"))
    names.push_back(automation::to_object(item)->get("localfilename").bstr());
  EXPECT_EQ(names, (std::vector<std::string>{"/dl/a.bin", "/dl/b.bin"}));
}

TEST(Enumeration, WalksTheItemsAsTheyWereWhenItBegan) {
  queue::ServerCollection servers;
  for (const char* name : {"a", "b", "c"}) {
    auto server = std::make_shared<queue::remoteServerLoc>();
    server->servName = name;
    servers.Add(server);
  }
  auto walk = servers.NewEnum();
  auto name_of = [](const Variant& v) { return automation::to_object(v)->get("servName").bstr(); };
  Variant item;
  ASSERT_TRUE(walk->Next(item));
  EXPECT_EQ(name_of(item), "a");
  // Changing the collection meanwhile neither skips nor repeats an item.
  servers.Remove(1);
  servers.Add(std::make_shared<queue::remoteServerLoc>());
  auto copy = walk->Clone();
  ASSERT_TRUE(walk->Next(item));
  EXPECT_EQ(name_of(item), "b");
  EXPECT_TRUE(walk->Skip(1));
  EXPECT_FALSE(walk->Next(item));
  EXPECT_EQ(name_of(item), "b");  // untouched at the end
  EXPECT_FALSE(walk->Skip(1));
  ASSERT_TRUE(copy->Next(item));  // the clone kept its own place
  EXPECT_EQ(name_of(item), "b");
  walk->Reset();
  ASSERT_TRUE(walk->Next(item));
  EXPECT_EQ(name_of(item), "a");
  EXPECT_EQ(error_of([&] { walk->Skip(-1); }), err::invalid_call);

  std::vector<Variant> none;
  EXPECT_EQ(error_of([&] { servers.NewEnum()->call("Skip", none); }), err::wrong_arg_count);
  queue::ServerCollection empty;
  EXPECT_TRUE(empty.NewEnum()->call("Next", none).is_empty());
}

}  // namespace
}  // namespace vintrel
