// Calls through the control's dispatch: refused identifiers, methods that reach
// the engine, arguments by reference, collections and their enumeration.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "control/dispatch_rig.hpp"
#include "control/surface.hpp"

namespace vintrel {
namespace {

using namespace dispatch_rig;

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
