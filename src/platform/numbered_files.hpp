#pragma once
// Numbered binary files: one plain local file per file index, open for
// reading and writing, created when missing, contents kept, position at 0.
// Positions are 64-bit. Opens and writes return the system's error number
// (errno, 0 for success) instead of swallowing it; Windows' codes are
// translated to the errno of the same condition.

#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace vintrel::platform {

/// The table of numbered files of one control.
class NumberedFiles {
 public:
  NumberedFiles() = default;
  NumberedFiles(const NumberedFiles&) = delete;
  NumberedFiles& operator=(const NumberedFiles&) = delete;
  ~NumberedFiles();

  /// Opens `path` under `number` (closing what was open under it first).
  /// Returns 0 or the errno of the failure.
  int Open(std::int32_t number, const std::string& path);
  /// Writes every byte at the position and advances it. Returns 0 or the
  /// errno of the failure; a short write is ENOSPC.
  int Write(std::int32_t number, std::span<const std::uint8_t> bytes);
  /// Moves the position to the 0-based offset. Returns 0 or errno.
  int Seek(std::int32_t number, std::int64_t position);
  /// Cuts or extends the file to `size` bytes. Returns 0 or errno.
  int Truncate(std::int32_t number, std::int64_t size);
  /// Closes the file; closing a number with nothing open does nothing.
  void Close(std::int32_t number);
  /// True while a file is open under `number`.
  bool IsOpen(std::int32_t number) const;

 private:
  std::map<std::int32_t, std::int32_t> descriptors_;  // file_handle handles
};

}  // namespace vintrel::platform
