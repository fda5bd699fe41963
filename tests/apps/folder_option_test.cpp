// The folder given with -d: made when missing, absolute and without a
// trailing slash, or refused with the path and the system's reason.

#include "apps/folder_option.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_folder.hpp"

namespace vintrel::apps {
namespace {

using vintrel::testing::TempFolder;

TEST(GivenFolder, MissingFoldersAreMadeAndTheTrailingSlashDropped) {
  TempFolder temp;
  const GivenFolder folder = given_folder(temp.path().string() + "/a/./b/../c/");
  EXPECT_TRUE(folder.usable);
  EXPECT_EQ(folder.path, temp.file("a") + "/c");
  EXPECT_EQ(folder.shown, temp.file("a") + "/c/");
  EXPECT_TRUE(std::filesystem::is_directory(folder.path));
  EXPECT_TRUE(folder.reason.empty());
}

TEST(GivenFolder, RelativeFolderIsTakenFromTheCurrentOne) {
  TempFolder temp;
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(temp.path());
  const GivenFolder folder = given_folder("new");
  std::filesystem::current_path(before);
  EXPECT_TRUE(folder.usable);
  EXPECT_EQ(folder.path, (std::filesystem::canonical(temp.path()) / "new").string());
}

TEST(GivenFolder, RootStaysASlash) {
  const GivenFolder folder = given_folder("/");
  EXPECT_TRUE(folder.usable);
  EXPECT_EQ(folder.path, "/");
}

TEST(GivenFolder, FileInTheWayIsRefusedWithThePathAndTheReason) {
  TempFolder temp;
  vintrel::testing::write_file(temp.file("plain"), "x");
  const GivenFolder folder = given_folder(temp.file("plain") + "/sub");
  EXPECT_FALSE(folder.usable);
  EXPECT_TRUE(folder.path.empty());
  EXPECT_EQ(folder.shown, temp.file("plain") + "/sub");
  EXPECT_FALSE(folder.reason.empty());
}

}  // namespace
}  // namespace vintrel::apps
