// Files through Win32: UTF-8 names reach the disk as the same characters,
// positions past 4 GiB work, failures carry the errno numbers the engine
// reports on Linux, and the control builds its paths with "\".

#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "automation/automation.hpp"
#include "files/file_io.hpp"
#include "platform/file_handle.hpp"
#include "platform/file_system.hpp"
#include "platform/numbered_files.hpp"
#include "platform/windows/wide_text.hpp"
#include "pump.hpp"
#include "queue/local_path.hpp"

namespace vintrel::windows_tests {
namespace {

namespace fh = platform::file_handle;

constexpr std::int64_t four_gib = std::int64_t{1} << 32;

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

// The name as Windows lists it in the folder, read back as UTF-8.
std::string listed_name(const TempFolder& folder) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder.path() / L"*").c_str(), &found);
  std::string name;
  if (search == INVALID_HANDLE_VALUE) return name;
  do {
    const std::wstring entry = found.cFileName;
    if (entry != L"." && entry != L"..") name = platform::windows::to_utf8(entry);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return name;
}

TEST(WindowsFiles, Utf8NamesAreStoredAsTheSameCharacters) {
  TempFolder folder;
  // Latin, Greek, CJK and a character outside the BMP (a surrogate pair).
  const std::string name =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xCE\xB1\xCE\xB2 \xE6\x96\x87\xE4\xBB\xB6 \xF0\x9F\x93\xA6.bin";
  platform::NumberedFiles files;
  ASSERT_EQ(files.Open(1, folder.file(name)), 0);
  const auto data = bytes_of("payload");
  ASSERT_EQ(files.Write(1, data), 0);
  files.Close(1);

  EXPECT_EQ(listed_name(folder), name);
  EXPECT_TRUE(platform::file_exists(folder.file(name)));
  EXPECT_FALSE(platform::folder_exists(folder.file(name)));
  EXPECT_TRUE(platform::folder_exists(folder.text()));
  EXPECT_FALSE(platform::file_exists(folder.text()));
  EXPECT_EQ(platform::file_size_of(folder.file(name)), 7);
  EXPECT_EQ(platform::file_size_of(folder.file("missing")), 0);
  // A folder is no file to resume into.
  EXPECT_EQ(platform::file_size_of(folder.text()), 0);
}

TEST(WindowsFiles, PositionsPastFourGibibytesReadAndWrite) {
  TempFolder folder;
  const std::string path = folder.file("large.bin");
  platform::NumberedFiles files;
  ASSERT_EQ(files.Open(3, path), 0);
  ASSERT_EQ(files.Seek(3, four_gib + 5), 0);
  ASSERT_EQ(files.Write(3, bytes_of("tail")), 0);
  files.Close(3);
  EXPECT_EQ(platform::file_size_of(path), four_gib + 9);

  // The file object reads it back at the same position, its high half
  // given as the high word.
  files::FileIO io;
  io.OpenFile(path);
  io.SeekAbsolute(1, 5);
  EXPECT_EQ(io.ReadBytes(4), bytes_of("tail"));
  // Past the end: what was not read stays zero, and the position stays at
  // the end.
  EXPECT_EQ(io.ReadBytes(2), std::vector<std::uint8_t>(2, 0));
  // A relative move back over the 4 GiB line, to 4 GiB - 1.
  io.SeekRelative(-10);
  io.WriteBytes(bytes_of("XY"));
  io.SeekAbsolute(0, -1);  // the low half is unsigned: 4 GiB - 1
  EXPECT_EQ(io.ReadBytes(3), bytes_of(std::string("XY\0", 3)));
  io.SeekAbsolute(0, -3);
  EXPECT_EQ(io.ReadBytes(3), bytes_of(std::string("\0\0X", 3)));
  io.CloseFile();
}

TEST(WindowsFiles, TruncateCutsAndExtendsKeepingThePosition) {
  TempFolder folder;
  const std::string path = folder.file("cut.bin");
  platform::NumberedFiles files;
  ASSERT_EQ(files.Open(1, path), 0);
  ASSERT_EQ(files.Write(1, bytes_of("0123456789")), 0);
  ASSERT_EQ(files.Truncate(1, 4), 0);
  EXPECT_EQ(platform::file_size_of(path), 4);
  ASSERT_EQ(files.Truncate(1, four_gib + 1), 0);
  EXPECT_EQ(platform::file_size_of(path), four_gib + 1);
  // The position stayed at 10: the next write lands there.
  ASSERT_EQ(files.Write(1, bytes_of("Z")), 0);
  ASSERT_EQ(files.Truncate(1, 11), 0);
  files.Close(1);
  files::FileIO io;
  io.OpenFile(path);
  EXPECT_EQ(io.ReadBytes(11), bytes_of(std::string("0123\0\0\0\0\0\0Z", 11)));
  io.CloseFile();

  EXPECT_EQ(platform::truncate_file(path, 2), 0);
  EXPECT_EQ(platform::file_size_of(path), 2);
  EXPECT_EQ(platform::truncate_file(folder.file("missing.bin"), 2), ENOENT);
}

TEST(WindowsFiles, FailuresCarryTheErrnoNumbersOfLinux) {
  TempFolder folder;
  platform::NumberedFiles files;
  EXPECT_EQ(files.Open(1, folder.file("no folder\\file.bin")), ENOENT);
  EXPECT_FALSE(files.IsOpen(1));
  EXPECT_EQ(files.Write(2, bytes_of("x")), EBADF);
  EXPECT_EQ(files.Seek(2, 0), EBADF);

  // A file another program holds without sharing is refused.
  const std::string locked = folder.file("locked.bin");
  HANDLE holder = CreateFileW(platform::windows::to_wide(locked).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(files.Open(1, locked), EACCES);
  CloseHandle(holder);

  files::FileIO io;
  try {
    io.OpenFile(folder.file("no folder\\file.bin"));
    FAIL() << "opened a file in a missing folder";
  } catch (const automation::AutomationError& error) {
    EXPECT_EQ(error.number(), files::ErrOpenFailed);
    EXPECT_NE(error.description().find("Error 2\r\nNo such file or directory"), std::string::npos)
        << error.description();
  }
  EXPECT_EQ(io.LastError(), ENOENT);
}

TEST(WindowsFiles, FreeSpaceIsThatOfTheSystemDrive) {
  const std::string root = platform::root_volume();
  ASSERT_EQ(root.size(), 3u) << root;
  EXPECT_EQ(root.substr(1), ":\\");
  const platform::FreeSpace space = platform::free_space_of(root);
  EXPECT_GT(space.total_free, 0u);
  EXPECT_GT(space.available, 0u);
  EXPECT_LE(space.available, space.total_free);
  // A file asks about the volume it is on.
  TempFolder folder;
  platform::NumberedFiles files;
  ASSERT_EQ(files.Open(1, folder.file("f")), 0);
  files.Close(1);
  EXPECT_GT(platform::free_space_of(folder.file("f")).total_free, 0u);
  EXPECT_EQ(platform::free_space_of(folder.file("missing\\deeper")).total_free, 0u);
}

TEST(WindowsPaths, TheControlJoinsAndCollapsesWithBackslashes) {
  EXPECT_EQ(platform::path_separator(), '\\');
  EXPECT_EQ(queue::join_local_path("C:\\Downloads", "a.zip"), "C:\\Downloads\\a.zip");
  // A folder chosen with its separator, as a drive's root always is.
  EXPECT_EQ(queue::join_local_path("C:\\", "a.zip"), "C:\\a.zip");
  EXPECT_EQ(queue::join_local_path("C:\\Downloads\\", "a.zip"), "C:\\Downloads\\a.zip");
  // Slashes are not the separator here: they are left as they are.
  EXPECT_EQ(queue::join_local_path("C:/Downloads/", "a.zip"), "C:/Downloads/\\a.zip");
  EXPECT_EQ(queue::collapse_doubled_separators("C:\\a\\\\b\\\\\\c"), "C:\\a\\b\\\\c");
  // A network path keeps its leading pair.
  EXPECT_EQ(queue::join_local_path("\\\\server\\share", "a.zip"), "\\\\server\\share\\a.zip");
  EXPECT_EQ(queue::collapse_doubled_separators("\\\\server\\\\share"), "\\\\server\\share");
}

// The record a download keeps with its file: in an alternate data stream
// where the volume keeps them, else in a hidden companion that holds only
// for the file it was written for.
TEST(WindowsFiles, NotesTravelWithTheirFileOnly) {
  for (const bool metadata : {true, false}) {
    platform::use_file_metadata_for_notes(metadata);
    TempFolder folder;
    const std::string path = folder.file("n\xC3\xA4me.bin");
    platform::NumberedFiles files;
    ASSERT_EQ(files.Open(1, path), 0);
    files.Close(1);
    EXPECT_FALSE(platform::read_file_note(path));
    ASSERT_EQ(platform::write_file_note(path, "first"), 0);
    ASSERT_EQ(platform::write_file_note(path, "second\nline"), 0);
    EXPECT_EQ(platform::read_file_note(path), "second\nline");
    // Another file moved into the name has no note of its own.
    const std::string other = folder.file("other.bin");
    ASSERT_EQ(files.Open(2, other), 0);
    files.Close(2);
    ASSERT_TRUE(MoveFileExW(platform::windows::to_wide(other).c_str(), platform::windows::to_wide(path).c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(platform::read_file_note(path)) << metadata;
    ASSERT_EQ(platform::write_file_note(path, "again"), 0);
    platform::settle_file_note(path);
    EXPECT_FALSE(platform::file_exists(platform::file_note_companion(path)));
    EXPECT_EQ(platform::write_file_note(folder.file("missing"), "x"), ENOENT);
  }
  platform::use_file_metadata_for_notes(true);
}

}  // namespace
}  // namespace vintrel::windows_tests
