#pragma once
// FileIO: owns at most one open file and writes (and reads) raw bytes at
// 64-bit positions. Every failure is a numbered error with the source
// "Win32File Object".

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vintrel::files {

/// The numbered errors of FileIO.
inline constexpr std::int32_t ErrFileAlreadyOpen = 45601;
inline constexpr std::int32_t ErrOpenFailed = 45602;
inline constexpr std::int32_t ErrNoOpenFile = 45603;
inline constexpr std::int32_t ErrSeekFailed = 45604;
inline constexpr std::int32_t ErrWriteFailed = 45605;
/// The source text of every FileIO error.
inline constexpr const char* file_error_source = "Win32File Object";

/// A file object writing raw bytes at 64-bit positions.
class FileIO {
 public:
  FileIO() = default;
  FileIO(const FileIO&) = delete;
  FileIO& operator=(const FileIO&) = delete;
  /// Closes an open file, reporting nothing.
  ~FileIO();

  /// The system handle (descriptor) of the open file; 45603 when none.
  std::int32_t FileHandle() const;
  /// The name given to OpenFile; 45603 when no file is open.
  const std::string& FileName() const;
  /// True while a file is open.
  bool IsOpen() const noexcept { return handle_ != -1; }
  /// Whether every write is flushed to disk; 45603 when no file is open.
  bool AutoFlush() const;
  void AutoFlush(bool NewVal);

  /// Opens or creates the file, keeping its contents, position 0; 45601 when
  /// a file is open, 45602 when the system refuses.
  void OpenFile(const std::string& sFilename);
  /// Closes the open file; 45603 when none.
  void CloseFile();
  /// Reads ByteCount bytes at the position; a short read leaves zeros.
  std::vector<std::uint8_t> ReadBytes(std::int32_t ByteCount);
  /// Writes every byte at the position; a failed or short write is 45605.
  void WriteBytes(std::span<const std::uint8_t> DataBytes);
  /// Forces written data to disk; a failure is 45605.
  void Flush();
  /// Moves to HighPos * 2^32 + LowPos (low half unsigned) from the start.
  void SeekAbsolute(std::int32_t HighPos, std::int32_t LowPos);
  /// Moves by Offset from the position; a failure is 45604.
  void SeekRelative(std::int32_t Offset);
  /// The errno of the most recent system call of this object (0: success).
  int LastError() const noexcept { return last_error_; }

 private:
  [[noreturn]] void raiseFileError(std::int32_t number, const std::string& argument) const;
  int handle_ = -1;
  std::string name_;
  bool auto_flush_ = false;
  int last_error_ = 0;  // errno of the most recent system call
};

/// The system's message text for an error code, "Unknown Error." when none.
std::string systemErrorText(int code);

}  // namespace vintrel::files
