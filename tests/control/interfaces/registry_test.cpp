#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "control/interfaces/registry.hpp"
#include "control/registration.hpp"
#include "support/temp_folder.hpp"

namespace vintrel {
namespace {

using control::Registry;

// Restores an environment variable when the test ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(Registry, DefaultPathFollowsTheOverrideThenTheUsersDataFolder) {
  ScopedEnv home("HOME", "/home/ann");
  {
    ScopedEnv own("VINTREL_REGISTRY", "/tmp/reg");
    ScopedEnv xdg("XDG_DATA_HOME", "/data");
    EXPECT_EQ(Registry::default_path(), "/tmp/reg");
  }
  ScopedEnv own("VINTREL_REGISTRY", "");
  {
    ScopedEnv xdg("XDG_DATA_HOME", "/data");
    EXPECT_EQ(Registry::default_path(), "/data/vintrel/registry");
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", "relative");  // ignored, as the XDG rules say
    EXPECT_EQ(Registry::default_path(), "/home/ann/.local/share/vintrel/registry");
  }
  ScopedEnv xdg("XDG_DATA_HOME", nullptr);
  EXPECT_EQ(Registry::default_path(), "/home/ann/.local/share/vintrel/registry");
}

TEST(Registry, KeysAnyCaseAndValuesOfAnyBytesSurviveTheFile) {
  testing::TempFolder folder;
  const std::string path = folder.file("a/b/registry");  // folders made on save
  auto registry = Registry::load(path);
  ASSERT_TRUE(registry);
  EXPECT_EQ(registry->size(), 0u);
  registry->set("CLSID/{X}/InprocServer32", "/odd\tpath\nwith\\slash\r.so");
  registry->set("ProgID/A.B", "");
  registry->set("clsid/{x}/inprocserver32", "/replaced\tpath.so");
  ASSERT_TRUE(registry->save());

  auto again = Registry::load(path);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->size(), 2u);
  EXPECT_EQ(again->get("CLSID/{X}/INPROCSERVER32"), "/replaced\tpath.so");
  EXPECT_EQ(again->get("ProgID/A.B"), "");
  EXPECT_FALSE(again->get("ProgID/A.C"));
  EXPECT_TRUE(again->erase("progid/a.b"));
  EXPECT_FALSE(again->erase("progid/a.b"));
}

TEST(Registry, LinesItDoesNotUnderstandAreKept) {
  testing::TempFolder folder;
  const std::string path = folder.file("registry");
  testing::write_file(path, "# note\n\nloose line\nKey\tValue\n");
  auto registry = Registry::load(path);
  ASSERT_TRUE(registry);
  registry->set("New", "1");
  ASSERT_TRUE(registry->save());
  EXPECT_EQ(testing::read_file(path), "# note\n\nloose line\nKey\tValue\nNew\t1\n");
}

TEST(Registration, RegisteringTwiceWritesOnceAndUnregisteringRemovesAll) {
  testing::TempFolder folder;
  const std::string path = folder.file("registry");
  testing::write_file(path, "Mine\tkept\n");
  const std::string module = "/usr/lib/vintrel/libVintrel.so";
  ASSERT_EQ(control::register_module(module, path), control::hr::S_OK);
  const std::string once = testing::read_file(path);
  ASSERT_EQ(control::register_module(module, path), control::hr::S_OK);
  EXPECT_EQ(testing::read_file(path), once);
  EXPECT_EQ(Registry::load(path)->size(), control::registration_entries(module).size() + 1);
  ASSERT_EQ(control::unregister_module(module, path), control::hr::S_OK);
  EXPECT_EQ(testing::read_file(path), "Mine\tkept\n");
}

TEST(Registration, UnregisteringWithoutARegistryIsFine) {
  testing::TempFolder folder;
  EXPECT_EQ(control::unregister_module("/x/libVintrel.so", folder.file("none")), control::hr::S_OK);
  EXPECT_FALSE(std::filesystem::exists(folder.file("none")));
}

}  // namespace
}  // namespace vintrel
