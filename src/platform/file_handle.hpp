#pragma once
// Plain local files opened for reading and writing, at 64-bit positions,
// through the system's own calls. Failures are errno numbers on every
// system (Windows' codes are translated), so what the control reports for a
// full disk or a refused open reads the same everywhere.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vintrel::platform::file_handle {

/// An open file: a descriptor, or a Windows handle's 32-bit value.
using Handle = std::int32_t;
/// No file.
inline constexpr Handle none = -1;

/// Opens `path` (UTF-8) for reading and writing, creating it when missing
/// and keeping its contents, at position 0. Returns `none` and sets `error`
/// on failure.
Handle open(const std::string& path, int& error);
/// Closes the file. Returns 0 or errno; the handle is gone either way.
int close(Handle handle);
/// Reads up to `size` bytes at the position into `into`. Returns the count
/// (0 at the end) or -1 with `error` set.
std::int64_t read(Handle handle, void* into, std::size_t size, int& error);
/// Writes up to `size` bytes at the position. Returns the count written or
/// -1 with `error` set.
std::int64_t write(Handle handle, const void* from, std::size_t size, int& error);
/// Forces written data to the disk. Returns 0 or errno.
int sync(Handle handle);
/// Where seek() counts from.
enum class From { start, current };
/// Moves the position. Returns 0 or errno.
int seek(Handle handle, std::int64_t offset, From from);
/// The file's size in bytes, or -1 when it cannot be learnt.
std::int64_t size(Handle handle);
/// Cuts or extends the file to `size` bytes. Returns 0 or errno.
int resize(Handle handle, std::int64_t size);

}  // namespace vintrel::platform::file_handle
