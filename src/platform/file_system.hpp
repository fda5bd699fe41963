#pragma once
// Questions about local files that do not open them.

#include <cstdint>
#include <string>

namespace vintrel::platform {

/// Size in bytes of the file `path` (0 when it does not exist), read from its
/// directory entry without opening it; 64-bit.
std::int64_t file_size_of(const std::string& path);
/// True when `path` names an existing file (not a folder).
bool file_exists(const std::string& path);
/// True when `path` names an existing folder.
bool folder_exists(const std::string& path);
/// Free bytes of the volume holding `path`: total free and available to the
/// user. Both 0 when the query fails.
struct FreeSpace {
  std::uint64_t total_free = 0;
  std::uint64_t available = 0;
};
FreeSpace free_space_of(const std::string& path);
/// The system's text for an errno value.
std::string system_error_text(int error_number);
/// What separates a folder from the names in it where the control builds
/// local paths: '/' here, '\\' on Windows.
char path_separator();
/// The volume the control's free-space question is about: "/" here, the
/// root of the system drive ("C:\\") on Windows.
std::string root_volume();

}  // namespace vintrel::platform

namespace vintrel::platform {

/// Cuts or extends the file `path` to `size` bytes. Returns 0 or errno.
int truncate_file(const std::string& path, std::int64_t size);

}  // namespace vintrel::platform
