#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "control/surface.hpp"

namespace vintrel {
namespace {

using automation::Variant;
using automation::VarType;
using testing::error_of;

constexpr control::DispId check_free_space = 0x6003002B;

struct FreeSpace : ::testing::Test {
  testing::Surface s;
  std::vector<std::string> asked;
  platform::FreeSpace answer;

  FreeSpace() {
    s.c.freeSpaceQuery = [this](const std::string& path) {
      asked.push_back(path);
      return answer;
    };
  }
  Variant free_space(const char* drive) {
    return s.invoke(check_free_space, control::invoke::method, {Variant(drive)});
  }
};

TEST_F(FreeSpace, AnyDriveGivesTheTotalFreeBytesOfTheRootVolumeAsAWholeCurrency) {
  // More than 32 bits, and less available to the user than free in all.
  answer = {.total_free = 5'000'000'123ULL, .available = 1'000};
  const Variant c = free_space("C:\\");
  ASSERT_EQ(c.type(), VarType::Cy);
  EXPECT_EQ(c.cy().tenthousandths, 50'000'001'230'000);
  EXPECT_EQ(c.cy().tenthousandths % 10000, 0);
  for (const char* other : {"D:\\", ""}) {
    const Variant v = free_space(other);
    ASSERT_EQ(v.type(), VarType::Cy) << other;
    EXPECT_EQ(v.cy(), c.cy()) << other;
  }
  EXPECT_EQ(asked, (std::vector<std::string>{"/", "/", "/"}));
  // By name too, the way script asks.
  EXPECT_EQ(s.call("CheckFreeSpace", {Variant("Z:\\")}).cy(), c.cy());
}

TEST_F(FreeSpace, AFailedQueryAnswersZero) {
  answer = {};
  EXPECT_EQ(free_space("C:\\").cy().tenthousandths, 0);
}

TEST_F(FreeSpace, CountsPastTheLargestWholeCurrencyOverflow) {
  answer.total_free = 922337203685477ULL;
  EXPECT_EQ(free_space("C:\\").cy().tenthousandths, 9223372036854770000);
  answer.total_free = 922337203685478ULL;
  EXPECT_EQ(error_of([&] { free_space("C:\\"); }), automation::err::overflow);
  answer.total_free = ~0ULL;
  EXPECT_EQ(error_of([&] { free_space("C:\\"); }), automation::err::overflow);
}

}  // namespace
}  // namespace vintrel
