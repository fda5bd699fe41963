#include <gtest/gtest.h>

#include "control/object_safety.hpp"
#include "control/surface.hpp"

namespace vintrel {
namespace {

using control::Guid;
namespace hr = control::hr;

// The interface identifiers as a browser sends them.
const Guid dispatch = *Guid::parse("{00020400-0000-0000-C000-000000000046}");
const Guid persist_storage = *Guid::parse("{0000010A-0000-0000-C000-000000000046}");
const Guid persist_stream = *Guid::parse("{00000109-0000-0000-C000-000000000046}");
const Guid persist_property_bag = *Guid::parse("{37D84F60-42CB-11CE-8135-00AA004BB851}");
const Guid unknown = *Guid::parse("{00000000-0000-0000-C000-000000000046}");

struct ObjectSafety : ::testing::Test {
  testing::Surface s;
  control::ObjectSafety& safety = s.object;
  std::uint32_t supported = 99;
  std::uint32_t enabled = 99;
};

TEST_F(ObjectSafety, ScriptingIsSafeThroughDispatch) {
  EXPECT_EQ(safety.GetInterfaceSafetyOptions(&dispatch, &supported, &enabled), hr::S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 1u);
}

TEST_F(ObjectSafety, InitialisingIsSafeThroughEachPersistenceInterface) {
  for (const Guid* riid : {&persist_storage, &persist_stream, &persist_property_bag}) {
    supported = enabled = 99;
    EXPECT_EQ(safety.GetInterfaceSafetyOptions(riid, &supported, &enabled), hr::S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 2u);
  }
}

TEST_F(ObjectSafety, OtherInterfacesAreRefusedWithSupportedStillWritten) {
  EXPECT_EQ(safety.GetInterfaceSafetyOptions(&unknown, &supported, &enabled), hr::E_NOINTERFACE);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 99u);
  EXPECT_EQ(safety.SetInterfaceSafetyOptions(&unknown, 1, 1), hr::E_NOINTERFACE);
}

TEST_F(ObjectSafety, NullInterfaceSucceedsInBothWithoutWritingEnabled) {
  EXPECT_EQ(safety.GetInterfaceSafetyOptions(nullptr, &supported, &enabled), hr::S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 99u);
  EXPECT_EQ(safety.SetInterfaceSafetyOptions(nullptr, 3, 0), hr::S_OK);
}

TEST_F(ObjectSafety, SettingIsAcceptedOnlyForExactlyTheOptionAlreadyOn) {
  EXPECT_EQ(safety.SetInterfaceSafetyOptions(&dispatch, 1, 1), hr::S_OK);
  EXPECT_EQ(safety.SetInterfaceSafetyOptions(&dispatch, 3, 3), hr::E_FAIL);
  EXPECT_EQ(safety.SetInterfaceSafetyOptions(&dispatch, 1, 0), hr::E_FAIL);
  EXPECT_EQ(safety.SetInterfaceSafetyOptions(&dispatch, 3, 1), hr::S_OK);  // the AND is what counts
  EXPECT_EQ(safety.SetInterfaceSafetyOptions(&persist_stream, 2, 2), hr::S_OK);
  EXPECT_EQ(safety.SetInterfaceSafetyOptions(&persist_stream, 1, 1), hr::E_FAIL);
  EXPECT_EQ(safety.SetInterfaceSafetyOptions(&persist_property_bag, 2, 3), hr::S_OK);
  // Nothing changed by the refusals.
  EXPECT_EQ(safety.GetInterfaceSafetyOptions(&dispatch, &supported, &enabled), hr::S_OK);
  EXPECT_EQ(enabled, 1u);
}

TEST_F(ObjectSafety, MissingOutputsAreRefusedNotWrittenThrough) {
  EXPECT_EQ(safety.GetInterfaceSafetyOptions(&dispatch, nullptr, &enabled), hr::E_POINTER);
  EXPECT_EQ(safety.GetInterfaceSafetyOptions(&dispatch, &supported, nullptr), hr::E_POINTER);
  EXPECT_EQ(safety.GetInterfaceSafetyOptions(nullptr, &supported, nullptr), hr::S_OK);
  EXPECT_EQ(safety.GetInterfaceSafetyOptions(&unknown, &supported, nullptr), hr::E_NOINTERFACE);
}

TEST(ObjectSafetyFlags, TheModuleStartSetsBothAndFlagsOffRefuseEverything) {
  control::start_module();
  EXPECT_TRUE(control::module_safety_flags().safeForScripting);
  EXPECT_TRUE(control::module_safety_flags().safeForInitializing);

  const control::SafetyFlags off{};
  std::uint32_t supported = 0;
  std::uint32_t enabled = 99;
  EXPECT_EQ(control::get_interface_safety_options(off, &dispatch, &supported, &enabled), hr::S_OK);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(control::get_interface_safety_options(off, &persist_storage, &supported, &enabled), hr::S_OK);
  EXPECT_EQ(enabled, 0u);
  EXPECT_EQ(control::set_interface_safety_options(off, &dispatch, 1, 1), hr::E_FAIL);
  EXPECT_EQ(control::set_interface_safety_options(off, &persist_storage, 2, 2), hr::E_FAIL);
}

TEST(Guid, ReadsAndWritesTheRegistryForm) {
  const auto id = Guid::parse("{37d84f60-42cb-11ce-8135-00aa004bb851}");
  ASSERT_TRUE(id);
  EXPECT_EQ(id->to_string(), "{37D84F60-42CB-11CE-8135-00AA004BB851}");
  EXPECT_EQ(*id, persist_property_bag);  // whole values, any letter case
  EXPECT_EQ(Guid::parse("37D84F60-42CB-11CE-8135-00AA004BB851"), id);
  EXPECT_NE(persist_stream, persist_storage);
  for (const char* bad : {"", "{37D84F60-42CB-11CE-8135-00AA004BB851", "{37D84F60-42CB-11CE-8135-00AA004BB85G}",
                          "{37D84F60+42CB-11CE-8135-00AA004BB851}", "{37D84F60-42CB-11CE-8135-00AA004BB8510}"})
    EXPECT_FALSE(Guid::parse(bad)) << bad;
}

}  // namespace
}  // namespace vintrel
