#include "platform/numbered_files.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_system.hpp"
#include "support/temp_folder.hpp"

namespace {

using vintrel::platform::NumberedFiles;
namespace fs = std::filesystem;

constexpr std::int64_t four_gib = std::int64_t{1} << 32;

using vintrel::testing::TempFolder;

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::string contents_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Makes a sparse file of `size` bytes without writing them.
void make_sparse(const std::string& path, std::int64_t size) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_NE(fd, -1);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  ::close(fd);
}

TEST(NumberedFiles, OpenCreatesAMissingFileEmpty) {
  TempFolder dir;
  NumberedFiles files;
  ASSERT_EQ(files.Open(1, dir.file("new.bin")), 0);
  EXPECT_TRUE(files.IsOpen(1));
  EXPECT_TRUE(vintrel::platform::file_exists(dir.file("new.bin")));
  EXPECT_EQ(vintrel::platform::file_size_of(dir.file("new.bin")), 0);
}

TEST(NumberedFiles, OpenKeepsContentsAndWritesFromTheStart) {
  TempFolder dir;
  write_file(dir.file("old.bin"), "abcdefgh");
  NumberedFiles files;
  ASSERT_EQ(files.Open(1, dir.file("old.bin")), 0);
  ASSERT_EQ(files.Write(1, bytes_of("XY")), 0);
  files.Close(1);
  EXPECT_EQ(contents_of(dir.file("old.bin")), "XYcdefgh");
}

TEST(NumberedFiles, WritesAdvanceThePosition) {
  TempFolder dir;
  NumberedFiles files;
  ASSERT_EQ(files.Open(1, dir.file("a.bin")), 0);
  ASSERT_EQ(files.Write(1, bytes_of("abc")), 0);
  ASSERT_EQ(files.Write(1, bytes_of("def")), 0);
  ASSERT_EQ(files.Seek(1, 1), 0);
  ASSERT_EQ(files.Write(1, bytes_of("Z")), 0);
  files.Close(1);
  EXPECT_EQ(contents_of(dir.file("a.bin")), "aZcdef");
}

TEST(NumberedFiles, SeekPastFourGibibytesThenWriteLandsThere) {
  TempFolder dir;
  NumberedFiles files;
  ASSERT_EQ(files.Open(1, dir.file("big.bin")), 0);
  const std::int64_t position = four_gib + 5;
  ASSERT_EQ(files.Seek(1, position), 0);
  ASSERT_EQ(files.Write(1, bytes_of("xyz")), 0);
  files.Close(1);
  EXPECT_EQ(vintrel::platform::file_size_of(dir.file("big.bin")), position + 3);

  std::ifstream in(dir.file("big.bin"), std::ios::binary);
  in.seekg(position);
  std::string back(3, '\0');
  in.read(back.data(), 3);
  EXPECT_EQ(back, "xyz");
}

TEST(NumberedFiles, TruncateCutsAndExtends) {
  TempFolder dir;
  write_file(dir.file("t.bin"), "0123456789");
  NumberedFiles files;
  ASSERT_EQ(files.Open(1, dir.file("t.bin")), 0);
  ASSERT_EQ(files.Truncate(1, 4), 0);
  EXPECT_EQ(contents_of(dir.file("t.bin")), "0123");
  ASSERT_EQ(files.Truncate(1, four_gib + 1), 0);
  EXPECT_EQ(vintrel::platform::file_size_of(dir.file("t.bin")), four_gib + 1);
}

TEST(NumberedFiles, NumbersAreIndependentAndReopenReplaces) {
  TempFolder dir;
  NumberedFiles files;
  ASSERT_EQ(files.Open(1, dir.file("one.bin")), 0);
  ASSERT_EQ(files.Open(2, dir.file("two.bin")), 0);
  ASSERT_EQ(files.Write(1, bytes_of("1")), 0);
  // Reopening number 1 on another file must leave number 2 alone and send
  // later writes under 1 to the new file, from its start.
  ASSERT_EQ(files.Open(1, dir.file("three.bin")), 0);
  ASSERT_EQ(files.Write(1, bytes_of("3")), 0);
  ASSERT_EQ(files.Write(2, bytes_of("2")), 0);
  files.Close(1);
  files.Close(2);
  EXPECT_EQ(contents_of(dir.file("one.bin")), "1");
  EXPECT_EQ(contents_of(dir.file("two.bin")), "2");
  EXPECT_EQ(contents_of(dir.file("three.bin")), "3");
}

TEST(NumberedFiles, ClosedOrNeverOpenedNumbersAreHarmless) {
  NumberedFiles files;
  files.Close(7);
  EXPECT_FALSE(files.IsOpen(7));
  EXPECT_EQ(files.Write(7, bytes_of("x")), EBADF);
  EXPECT_EQ(files.Seek(7, 0), EBADF);
  EXPECT_EQ(files.Truncate(7, 0), EBADF);
}

TEST(NumberedFiles, FailuresReturnTheSystemErrorNumber) {
  TempFolder dir;
  NumberedFiles files;
  EXPECT_EQ(files.Open(1, dir.path().string()), EISDIR);
  EXPECT_FALSE(files.IsOpen(1));
  EXPECT_EQ(files.Open(2, dir.file("missing/x.bin")), ENOENT);
  EXPECT_FALSE(files.IsOpen(2));

  ASSERT_EQ(files.Open(3, dir.file("s.bin")), 0);
  EXPECT_EQ(files.Seek(3, -1), EINVAL);
}

TEST(NumberedFiles, WriteToAFullDeviceIsNoSpace) {
  NumberedFiles files;
  ASSERT_EQ(files.Open(1, "/dev/full"), 0);
  EXPECT_EQ(files.Write(1, bytes_of("data")), ENOSPC);
}

TEST(FileSystem, SizeIsSixtyFourBit) {
  TempFolder dir;
  make_sparse(dir.file("exact.bin"), four_gib);
  EXPECT_EQ(vintrel::platform::file_size_of(dir.file("exact.bin")), four_gib);
}

TEST(FileSystem, MissingFilesAndFoldersHaveNoSize) {
  TempFolder dir;
  EXPECT_EQ(vintrel::platform::file_size_of(dir.file("missing.bin")), 0);
  EXPECT_EQ(vintrel::platform::file_size_of(dir.path().string()), 0);
}

TEST(FileSystem, ExistenceTellsFilesFromFolders) {
  TempFolder dir;
  const std::string read_only = dir.file("ro.bin");
  write_file(read_only, "x");
  ASSERT_EQ(::chmod(read_only.c_str(), 0444), 0);

  EXPECT_TRUE(vintrel::platform::file_exists(read_only));
  EXPECT_FALSE(vintrel::platform::folder_exists(read_only));
  EXPECT_FALSE(vintrel::platform::file_exists(dir.path().string()));
  EXPECT_TRUE(vintrel::platform::folder_exists(dir.path().string()));
  EXPECT_FALSE(vintrel::platform::file_exists(dir.file("missing.bin")));
  EXPECT_FALSE(vintrel::platform::folder_exists(dir.file("missing")));
}

TEST(FileSystem, FreeSpaceIsZeroOnlyWhenTheQueryFails) {
  TempFolder dir;
  const auto space = vintrel::platform::free_space_of(dir.path().string());
  EXPECT_GT(space.total_free, 0u);
  EXPECT_LE(space.available, space.total_free);

  const auto none = vintrel::platform::free_space_of(dir.file("missing/deeper"));
  EXPECT_EQ(none.total_free, 0u);
  EXPECT_EQ(none.available, 0u);
}

TEST(FileSystem, SystemErrorTextIsTheSystemsWording) {
  EXPECT_EQ(vintrel::platform::system_error_text(ENOENT), "No such file or directory");
  EXPECT_EQ(vintrel::platform::system_error_text(ENOSPC), "No space left on device");
}

}  // namespace
