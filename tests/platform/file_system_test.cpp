// The note kept with a file: in its own metadata, or in a companion that
// holds for that file only.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_system.hpp"
#include "support/temp_folder.hpp"

namespace vintrel::platform {
namespace {

using testing::TempFolder;
using testing::write_file;

struct FileNotes : ::testing::TestWithParam<bool> {
  TempFolder dir;
  std::string path = dir.file("file.bin");
  void SetUp() override { use_file_metadata_for_notes(GetParam()); }
  void TearDown() override { use_file_metadata_for_notes(true); }
  bool companion() const { return std::filesystem::exists(file_note_companion(path)); }
};

TEST_P(FileNotes, NoteIsReadBackReplacedAndSettled) {
  write_file(path, "bytes");
  EXPECT_FALSE(read_file_note(path));
  EXPECT_EQ(write_file_note(path, "first"), 0);
  EXPECT_EQ(write_file_note(path, "second\nline"), 0);
  EXPECT_EQ(read_file_note(path), "second\nline");
  EXPECT_EQ(companion(), !GetParam());
  settle_file_note(path);
  EXPECT_FALSE(companion());
  // In the metadata the note outlives the finish; a companion goes.
  EXPECT_EQ(read_file_note(path).has_value(), GetParam());
  EXPECT_EQ(write_file_note(dir.file("missing"), "x"), ENOENT);
}

TEST_P(FileNotes, AnotherFileUnderTheSameNameHasNoNote) {
  write_file(path, "ours");
  ASSERT_EQ(write_file_note(path, "note"), 0);
  write_file(dir.file("theirs"), "someone else's");
  std::filesystem::rename(dir.file("theirs"), path);
  EXPECT_FALSE(read_file_note(path));
}

TEST_P(FileNotes, RenamedFileTakesItsMetadataNote) {
  write_file(path, "ours");
  ASSERT_EQ(write_file_note(path, "note"), 0);
  std::filesystem::rename(path, dir.file("moved.bin"));
  EXPECT_EQ(read_file_note(dir.file("moved.bin")).has_value(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Where, FileNotes, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "InMetadata" : "InCompanion"; });

TEST(FileNotes, CompanionIsHiddenBesideTheFile) {
  EXPECT_EQ(file_note_companion("/d/file.bin"), "/d/.file.bin.vintrel");
  EXPECT_EQ(file_note_companion("file.bin"), ".file.bin.vintrel");
}

}  // namespace
}  // namespace vintrel::platform
