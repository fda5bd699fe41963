#include "files/file_io.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "automation/automation.hpp"
#include "platform/file_system.hpp"
#include "support/temp_folder.hpp"

namespace {

using vintrel::automation::AutomationError;
using vintrel::files::FileIO;
namespace fs = std::filesystem;

constexpr std::int64_t four_gib = std::int64_t{1} << 32;

using vintrel::testing::TempFolder;

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

using vintrel::testing::read_file;
using vintrel::testing::write_file;

// The error `action` raised, or nothing when it returned normally.
std::optional<AutomationError> error_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const AutomationError& e) {
    return e;
  }
  return std::nullopt;
}

void expect_no_open_file(const std::function<void()>& action) {
  const auto e = error_of(action);
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->number(), vintrel::files::ErrNoOpenFile);
  EXPECT_EQ(e->source(), "Win32File Object");
  EXPECT_EQ(e->description(), "There is no open file.");
}

TEST(FileIO, EverythingButOpeningNeedsAnOpenFile) {
  FileIO file;
  EXPECT_FALSE(file.IsOpen());
  const std::vector<std::uint8_t> data{1, 2, 3};
  expect_no_open_file([&] { (void)file.FileHandle(); });
  expect_no_open_file([&] { (void)file.FileName(); });
  expect_no_open_file([&] { (void)file.AutoFlush(); });
  expect_no_open_file([&] { file.AutoFlush(true); });
  expect_no_open_file([&] { file.CloseFile(); });
  // The missing file is reported ahead of the bad count.
  expect_no_open_file([&] { (void)file.ReadBytes(0); });
  expect_no_open_file([&] { file.WriteBytes(data); });
  expect_no_open_file([&] { file.Flush(); });
  expect_no_open_file([&] { file.SeekAbsolute(0, 0); });
  expect_no_open_file([&] { file.SeekRelative(0); });
  EXPECT_FALSE(file.IsOpen());
}

TEST(FileIO, CloseFileForgetsNameAndAutoFlush) {
  TempFolder dir;
  FileIO file;
  file.OpenFile(dir.file("a.bin"));
  file.AutoFlush(true);
  EXPECT_TRUE(file.AutoFlush());
  EXPECT_EQ(file.FileName(), dir.file("a.bin"));
  EXPECT_GE(file.FileHandle(), 0);

  file.CloseFile();
  EXPECT_FALSE(file.IsOpen());
  expect_no_open_file([&] { (void)file.AutoFlush(); });
  expect_no_open_file([&] { (void)file.FileName(); });

  file.OpenFile(dir.file("b.bin"));
  EXPECT_FALSE(file.AutoFlush());
  EXPECT_EQ(file.FileName(), dir.file("b.bin"));
}

TEST(FileIO, OpenInAMissingFolderNamesTheFileAndTheSystemError) {
  TempFolder dir;
  const std::string path = dir.file("no/such/folder/z.bin");
  FileIO file;
  const auto e = error_of([&] { file.OpenFile(path); });
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->number(), vintrel::files::ErrOpenFailed);
  EXPECT_EQ(e->source(), "Win32File Object");
  EXPECT_EQ(e->description(), "Error opening '" + path + "'.\r\nError 2\r\nNo such file or directory");
  EXPECT_FALSE(file.IsOpen());
  expect_no_open_file([&] { (void)file.FileName(); });
}

TEST(FileIO, OpeningAFolderFails) {
  TempFolder dir;
  const std::string path = dir.file("sub");
  fs::create_directory(path);
  FileIO file;
  const auto e = error_of([&] { file.OpenFile(path); });
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->number(), vintrel::files::ErrOpenFailed);
  EXPECT_EQ(e->description(), "Error opening '" + path + "'.\r\nError " + std::to_string(EISDIR) + "\r\n" +
                                  vintrel::files::systemErrorText(EISDIR));
  EXPECT_FALSE(file.IsOpen());
}

TEST(FileIO, OpenKeepsContentsAndStartsAtTheBeginning) {
  TempFolder dir;
  const std::string path = dir.file("old.bin");
  write_file(path, "abcdef");
  FileIO file;
  file.OpenFile(path);
  EXPECT_EQ(file.ReadBytes(2), bytes_of("ab"));
  file.SeekAbsolute(0, 0);
  file.WriteBytes(bytes_of("XY"));
  file.CloseFile();
  EXPECT_EQ(read_file(path), "XYcdef");
}

TEST(FileIO, SecondOpenNamesTheFileAlreadyOpen) {
  TempFolder dir;
  const std::string first = dir.file("first.bin");
  FileIO file;
  file.OpenFile(first);
  const std::int32_t handle = file.FileHandle();

  const auto e = error_of([&] { file.OpenFile(dir.file("second.bin")); });
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->number(), vintrel::files::ErrFileAlreadyOpen);
  EXPECT_EQ(e->source(), "Win32File Object");
  // The open succeeded, so there is no system error to append.
  EXPECT_EQ(e->description(), "The file '" + first + "' is already open.");
  EXPECT_FALSE(vintrel::platform::file_exists(dir.file("second.bin")));

  EXPECT_EQ(file.FileName(), first);
  EXPECT_EQ(file.FileHandle(), handle);
  file.WriteBytes(bytes_of("still"));
  file.CloseFile();
  EXPECT_EQ(read_file(first), "still");
}

TEST(FileIO, AlreadyOpenCarriesTheLastSystemError) {
  TempFolder dir;
  FileIO file;
  file.OpenFile(dir.file("s.bin"));
  EXPECT_THROW(file.SeekRelative(-1), AutomationError);
  const auto e = error_of([&] { file.OpenFile(dir.file("other.bin")); });
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->description(), "The file '" + dir.file("s.bin") + "' is already open.\r\nError " +
                                  std::to_string(EINVAL) + "\r\n" + vintrel::files::systemErrorText(EINVAL));
}

TEST(FileIO, SeekAbsoluteReadsTheLowHalfUnsigned) {
  TempFolder dir;
  const std::string path = dir.file("big.bin");
  FileIO file;
  file.OpenFile(path);

  file.SeekAbsolute(1, 0);
  file.WriteBytes(bytes_of("a"));
  EXPECT_EQ(vintrel::platform::file_size_of(path), four_gib + 1);

  file.SeekAbsolute(0, -1);
  file.WriteBytes(bytes_of("b"));
  file.SeekAbsolute(0, -1);
  const auto back = file.ReadBytes(2);
  EXPECT_EQ(back, bytes_of("ba"));
  EXPECT_EQ(vintrel::platform::file_size_of(path), four_gib + 1);
}

TEST(FileIO, SeekAbsoluteToTheLastByteBelowFourGibibytes) {
  TempFolder dir;
  const std::string path = dir.file("edge.bin");
  FileIO file;
  file.OpenFile(path);
  file.SeekAbsolute(0, -1);
  file.WriteBytes(bytes_of("z"));
  EXPECT_EQ(vintrel::platform::file_size_of(path), four_gib);
}

TEST(FileIO, SeekAbsoluteFailureIsSilent) {
  TempFolder dir;
  FileIO file;
  file.OpenFile(dir.file("s.bin"));
  file.WriteBytes(bytes_of("abc"));
  EXPECT_NO_THROW(file.SeekAbsolute(-1, 0));
  // The position is where it was: the next write follows the last one.
  file.WriteBytes(bytes_of("d"));
  file.CloseFile();
  EXPECT_EQ(read_file(dir.file("s.bin")), "abcd");
}

TEST(FileIO, SeekRelativeMovesFromThePosition) {
  TempFolder dir;
  const std::string path = dir.file("r.bin");
  write_file(path, "0123456789");
  FileIO file;
  file.OpenFile(path);
  file.SeekRelative(4);
  file.SeekRelative(-1);
  EXPECT_EQ(file.ReadBytes(2), bytes_of("34"));
}

TEST(FileIO, SeekRelativeBeforeTheStartIsASeekError) {
  TempFolder dir;
  FileIO file;
  file.OpenFile(dir.file("r.bin"));
  const auto e = error_of([&] { file.SeekRelative(-5); });
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->number(), vintrel::files::ErrSeekFailed);
  EXPECT_EQ(e->source(), "Win32File Object");
  const std::string n = std::to_string(EINVAL);
  EXPECT_EQ(e->description(), "Seek Error.\r\nError " + n + ".\r\n" + n);
  EXPECT_TRUE(file.IsOpen());
}

TEST(FileIO, ReadBytesAlwaysReturnsTheCountAsked) {
  TempFolder dir;
  const std::string path = dir.file("r.bin");
  write_file(path, "abc");
  FileIO file;
  file.OpenFile(path);

  const auto partial = file.ReadBytes(5);
  EXPECT_EQ(partial, (std::vector<std::uint8_t>{'a', 'b', 'c', 0, 0}));

  const auto past_end = file.ReadBytes(10);
  EXPECT_EQ(past_end, std::vector<std::uint8_t>(10, 0));
}

TEST(FileIO, ReadBytesRejectsCountsBelowOne) {
  TempFolder dir;
  FileIO file;
  file.OpenFile(dir.file("r.bin"));
  for (const std::int32_t count : {0, -1}) {
    const auto e = error_of([&] { (void)file.ReadBytes(count); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->number(), vintrel::automation::err::invalid_call);
  }
}

TEST(FileIO, WriteBytesWritesExactlyTheSpanGiven) {
  TempFolder dir;
  const std::string path = dir.file("w.bin");
  const std::vector<std::uint8_t> buffer = bytes_of("0123456789ABCDEF");
  FileIO file;
  file.OpenFile(path);
  file.WriteBytes(std::span(buffer).subspan(5, 5));
  file.CloseFile();
  EXPECT_EQ(read_file(path), "56789");
}

TEST(FileIO, WritesFollowEachOtherWithAutoFlush) {
  TempFolder dir;
  const std::string path = dir.file("w.bin");
  FileIO file;
  file.OpenFile(path);
  file.AutoFlush(true);
  file.WriteBytes(bytes_of("abc"));
  file.WriteBytes(bytes_of("def"));
  file.Flush();
  EXPECT_EQ(read_file(path), "abcdef");
}

TEST(FileIO, WriteToAFullDeviceIsReported) {
  FileIO file;
  file.OpenFile("/dev/full");
  const auto e = error_of([&] { file.WriteBytes(bytes_of("data")); });
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->number(), vintrel::files::ErrWriteFailed);
  EXPECT_EQ(e->source(), "Win32File Object");
  EXPECT_EQ(e->description(),
            "Error writing '/dev/full'.\r\nError " + std::to_string(ENOSPC) + "\r\nNo space left on device");
  EXPECT_TRUE(file.IsOpen());
}

TEST(FileIO, FlushOfADeviceThatCannotSyncSucceeds) {
  FileIO file;
  file.OpenFile("/dev/null");
  file.AutoFlush(true);
  EXPECT_NO_THROW(file.WriteBytes(bytes_of("gone")));
  EXPECT_NO_THROW(file.Flush());
}

TEST(FileIO, DestroyingAnOpenObjectClosesTheFile) {
  TempFolder dir;
  std::int32_t handle = -1;
  {
    FileIO file;
    file.OpenFile(dir.file("d.bin"));
    handle = file.FileHandle();
    ASSERT_NE(::fcntl(handle, F_GETFD), -1);
  }
  errno = 0;
  EXPECT_EQ(::fcntl(handle, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(FileIO, SystemErrorTextHasAFallback) {
  EXPECT_EQ(vintrel::files::systemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(vintrel::files::systemErrorText(987654), "Unknown Error.");
  EXPECT_EQ(vintrel::files::systemErrorText(-3), "Unknown Error.");
}

}  // namespace
