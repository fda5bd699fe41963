#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "control/creator/creator.hpp"
#include "control/interfaces/registry.hpp"
#include "support/control_harness.hpp"
#include "support/temp_folder.hpp"

namespace vintrel {
namespace {

using automation::Variant;
using control::Creator;
using control::Guid;
using control::Module;
using testing::error_of;
namespace hr = control::hr;

constexpr std::int32_t cannot_create = 429;

// Lines of another module's registration, which ours must leave alone.
const std::string foreign =
    "# classes of this user\n"
    "ProgID/Other.Thing\t{11111111-2222-3333-4444-555555555555}\n"
    "CLSID/{11111111-2222-3333-4444-555555555555}/InprocServer32\t/opt/other/libOther.so\n";

// The module as built, with its registry in a folder of the test's own.
struct ModuleTest : ::testing::Test {
  testing::TempFolder folder;
  std::string registry = folder.file("vintrel/registry");
  const Module& module = Module::load(VINTREL_MODULE_PATH);
  Creator creator{registry};

  ModuleTest() { setenv("VINTREL_REGISTRY", registry.c_str(), 1); }
  ~ModuleTest() override { unsetenv("VINTREL_REGISTRY"); }

  std::optional<std::string> entry(const std::string& key) { return control::Registry::load(registry)->get(key); }
};

Variant call(const Variant& object, std::string_view name, std::vector<Variant> args) {
  return automation::to_object(object)->call(name, args);
}

// Platform and host outlive the control.
struct Hosted {
  testing::FakePlatform platform;
  testing::RecordingContainer host;
};

TEST_F(ModuleTest, RegisterCreateByProgIDDriveReleaseUnloadUnregister) {
  std::filesystem::create_directories(folder.path() / "vintrel");
  testing::write_file(registry, foreign);
  ASSERT_EQ(module.DllCanUnloadNow(), hr::S_OK);
  ASSERT_EQ(module.DllRegisterServer(), hr::S_OK);

  // The registration data, found the way a container finds them.
  const auto clsid_text = entry("ProgID/Vintrel.UserControl1");
  ASSERT_TRUE(clsid_text);
  const auto clsid = Guid::parse(*clsid_text);
  ASSERT_TRUE(clsid);
  const std::string key = "CLSID/" + *clsid_text;
  const std::string path = std::filesystem::canonical(VINTREL_MODULE_PATH).string();
  EXPECT_EQ(entry(key), "UserControl1");
  EXPECT_EQ(entry(key + "/InprocServer32"), path);
  EXPECT_EQ(entry(key + "/ProgID"), "Vintrel.UserControl1");
  EXPECT_EQ(entry(key + "/Version"), "446.0");
  EXPECT_EQ(entry(key + "/Control"), "");
  EXPECT_EQ(entry(key + "/ToolboxBitmap32"), path + ",30000");
  EXPECT_EQ(entry(key + "/MiscStatus"), std::to_string(0x20591));
  const auto libid = entry(key + "/TypeLib");
  ASSERT_TRUE(libid);
  EXPECT_EQ(entry("TypeLib/" + *libid + "/446.0"), "Vintrel");
  const auto events = entry(key + "/Events");
  ASSERT_TRUE(events && Guid::parse(*events));
  EXPECT_EQ(entry("Interface/" + *events), "__UserControl1");
  EXPECT_EQ(creator.class_id("vintrel.usercontrol1"), *clsid);

  {
    Hosted hosted;
    auto control = creator.create_control("Vintrel.UserControl1", hosted.platform, &hosted.host);
    EXPECT_EQ(module.DllCanUnloadNow(), hr::S_FALSE);
    EXPECT_EQ(control->class_name(), "UserControl1");

    // Drive it as a page would: by name, by identifier, with a sink.
    hosted.host.dialog.answers.push_back("/dl");
    std::vector<Variant> url{Variant("http://srv/dir/file.zip")};
    control->call("AddFile", url);
    std::vector<Variant> none;
    control->Invoke(control->GetIDsOfNames("StartQueue"), control::invoke::method, none);
    EXPECT_EQ(control->get("dTotalFiles").i2(), 1);
    EXPECT_EQ(control->get("dCurrentFileName").bstr(), "/dl/file.zip");
    EXPECT_EQ(hosted.platform.array(0).element(1).loads, 1);
    std::vector<Variant> past_the_end{Variant("2")};
    control->call("GotoFile", past_the_end);
    EXPECT_EQ(hosted.host.events.back(), "OnTransferComplete");
    // Its errors reach the page as automation errors.
    std::vector<Variant> bad{Variant("abc")};
    EXPECT_EQ(error_of([&] { control->call("GotoFile", bad); }), automation::err::type_mismatch);

    control.reset();  // the container releases the control
    EXPECT_EQ(module.DllCanUnloadNow(), hr::S_OK);
  }

  ASSERT_EQ(module.DllUnregisterServer(), hr::S_OK);
  EXPECT_EQ(testing::read_file(registry), foreign);
  EXPECT_EQ(error_of([&] { creator.class_id("Vintrel.UserControl1"); }), cannot_create);
  // Unregistering twice finds nothing more to remove.
  EXPECT_EQ(module.DllUnregisterServer(), hr::S_OK);
  EXPECT_EQ(testing::read_file(registry), foreign);
}

TEST_F(ModuleTest, ARemoteServerLocAddedByScriptIsProbedAtTheNextStart) {
  ASSERT_EQ(module.DllRegisterServer(), hr::S_OK);
  Hosted hosted;
  auto control = creator.create_control("Vintrel.UserControl1", hosted.platform, &hosted.host);
  hosted.host.dialog.answers.push_back("/dl");
  std::vector<Variant> url{Variant("http://srv/dir/file.zip")};
  control->call("AddFile", url);
  std::vector<Variant> none;
  control->call("StartQueue", none);
  testing::FakeSocketArray& probes = hosted.platform.array(1);
  EXPECT_EQ(probes.element(1).connects, 0);  // one server: nothing to probe

  auto mirror = creator.create("Vintrel.remoteServerLoc");
  EXPECT_EQ(mirror->class_name(), "remoteServerLoc");
  mirror->put("servName", Variant("mirror.test"));
  mirror->put("PortNum", Variant("8080"));
  mirror->put("host", Variant("mirror.test"));
  mirror->put("remoteFilePath", Variant("/pub/file.zip"));
  const Variant files = control->get("DownloadFiles");
  const Variant record = call(files, "Item", {Variant(1)});
  const Variant servers = automation::to_object(record)->get("remoteServerLocs");
  call(servers, "Add", {Variant(mirror)});
  EXPECT_EQ(automation::to_object(servers)->get("Count").i4(), 2);

  std::vector<Variant> first{Variant(std::int16_t{1})};
  control->call("GotoFile", first);
  EXPECT_EQ(probes.element(2).connects, 1);
  EXPECT_EQ(probes.element(2).host, "srv");
  EXPECT_EQ(probes.element(2).port, 80);
  EXPECT_EQ(probes.element(3).connects, 1);
  EXPECT_EQ(probes.element(3).host, "mirror.test");
  EXPECT_EQ(probes.element(3).port, 8080);
  EXPECT_EQ(automation::to_object(record)->get("downloadStatus").bstr(), "pinging");

  mirror.reset();
  EXPECT_EQ(module.DllCanUnloadNow(), hr::S_FALSE);  // the record still holds it
  control.reset();
  EXPECT_EQ(module.DllCanUnloadNow(), hr::S_FALSE);  // and script still holds the record
}

TEST_F(ModuleTest, ClassesAreFoundByClassIdentifierAndFailClearly) {
  ASSERT_EQ(module.DllRegisterServer(), hr::S_OK);
  const std::string clsid = *entry("ProgID/Vintrel.remoteServerLoc");
  EXPECT_EQ(creator.create(clsid)->class_name(), "remoteServerLoc");
  EXPECT_EQ(module.DllCanUnloadNow(), hr::S_OK);

  Hosted hosted;
  EXPECT_EQ(error_of([&] { creator.create("Vintrel.NoSuchClass"); }), cannot_create);
  EXPECT_EQ(error_of([&] { creator.create("{11111111-2222-3333-4444-555555555555}"); }), cannot_create);
  // A control needs a platform to run on.
  EXPECT_EQ(error_of([&] { creator.create("Vintrel.UserControl1"); }), cannot_create);
  EXPECT_EQ(error_of([&] { creator.create_control("Vintrel.remoteServerLoc", hosted.platform); }), cannot_create);
  EXPECT_EQ(module.DllCanUnloadNow(), hr::S_OK);  // the refused objects are gone

  // A registry naming a module that is not there.
  auto edited = control::Registry::load(registry);
  edited->set(control::registry_key::inproc_server(*Guid::parse(clsid)), folder.file("missing.so"));
  ASSERT_TRUE(edited->save());
  try {
    creator.create("Vintrel.remoteServerLoc");
    ADD_FAILURE() << "created from a missing module";
  } catch (const automation::AutomationError& e) {
    EXPECT_EQ(e.number(), cannot_create);
    EXPECT_NE(e.description().find("missing.so"), std::string::npos);
  }
}

TEST_F(ModuleTest, FactoryAnswersAndLocksKeepTheModuleInUse) {
  ASSERT_EQ(module.DllRegisterServer(), hr::S_OK);
  const Guid clsid = *Guid::parse(*entry("ProgID/Vintrel.UserControl1"));
  void* object = &object;
  EXPECT_EQ(module.DllGetClassObject(*Guid::parse("{11111111-2222-3333-4444-555555555555}"), control::IID_IClassFactory,
                                     &object),
            hr::CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(module.DllGetClassObject(clsid, control::IID_IDispatch, &object), hr::E_NOINTERFACE);
  EXPECT_EQ(module.DllGetClassObject(clsid, control::IID_IClassFactory, nullptr), hr::E_POINTER);
  ASSERT_EQ(module.DllGetClassObject(clsid, control::IID_IClassFactory, &object), hr::S_OK);
  auto* factory = static_cast<control::ClassFactory*>(object);

  EXPECT_EQ(factory->LockServer(true), hr::S_OK);
  EXPECT_EQ(module.DllCanUnloadNow(), hr::S_FALSE);
  EXPECT_EQ(factory->LockServer(false), hr::S_OK);
  EXPECT_EQ(module.DllCanUnloadNow(), hr::S_OK);
  // An unlock without a lock is refused rather than hiding a later lock.
  EXPECT_EQ(factory->LockServer(false), hr::E_FAIL);
  EXPECT_EQ(factory->LockServer(true), hr::S_OK);
  EXPECT_EQ(module.DllCanUnloadNow(), hr::S_FALSE);
  EXPECT_EQ(factory->LockServer(false), hr::S_OK);

  std::shared_ptr<automation::Object> made;
  EXPECT_EQ(factory->CreateInstance(nullptr, nullptr, made), hr::E_INVALIDARG);
  EXPECT_EQ(made, nullptr);
}

TEST_F(ModuleTest, UnregisteringLeavesARegistrationOfAnotherCopy) {
  ASSERT_EQ(module.DllRegisterServer(), hr::S_OK);
  const std::string clsid = *entry("ProgID/Vintrel.UserControl1");
  auto edited = control::Registry::load(registry);
  edited->set("CLSID/" + clsid + "/InprocServer32", "/opt/vintrel/libVintrel.so");
  ASSERT_TRUE(edited->save());
  EXPECT_EQ(module.DllUnregisterServer(), hr::S_OK);
  EXPECT_EQ(entry("ProgID/Vintrel.UserControl1"), clsid);
  EXPECT_EQ(entry("CLSID/" + clsid + "/InprocServer32"), "/opt/vintrel/libVintrel.so");
}

TEST_F(ModuleTest, RegistrationNamesTheLinkTheModuleWasLoadedBy) {
  // As installed: the versioned file and the link hosts load. A copy of
  // its own, so that this load is not the module the other tests loaded.
  namespace fs = std::filesystem;
  const fs::path lib = fs::canonical(folder.path()) / "lib";
  fs::create_directories(lib);
  fs::copy_file(VINTREL_MODULE_PATH, lib / "libVintrel.so.9.8.7");
  fs::create_symlink("libVintrel.so.9.8.7", lib / "libVintrel.so");
  const Module& installed = Module::load((lib / "libVintrel.so").string());

  ASSERT_EQ(installed.DllRegisterServer(), hr::S_OK);
  const std::string clsid = *entry("ProgID/Vintrel.UserControl1");
  // An upgrade replaces the versioned file; the link stays valid.
  EXPECT_EQ(entry("CLSID/" + clsid + "/InprocServer32"), (lib / "libVintrel.so").string());
  Hosted hosted;
  const auto control = creator.create_control("Vintrel.UserControl1", hosted.platform, &hosted.host);
  EXPECT_NE(control, nullptr);

  EXPECT_EQ(installed.DllUnregisterServer(), hr::S_OK);
  EXPECT_EQ(entry("ProgID/Vintrel.UserControl1"), std::nullopt);
}

TEST_F(ModuleTest, ARegistryThatCannotBeReadIsNotOverwritten) {
  // A folder where the file should be: unreadable as a registry.
  std::filesystem::create_directories(registry);
  EXPECT_EQ(module.DllRegisterServer(), hr::SELFREG_E_CLASS);
  EXPECT_TRUE(std::filesystem::is_directory(registry));
  EXPECT_EQ(error_of([&] { creator.create("Vintrel.UserControl1"); }), cannot_create);
}

}  // namespace
}  // namespace vintrel
