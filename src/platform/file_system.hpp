#pragma once
// Questions about local files that do not open them.

#include <cstdint>
#include <optional>
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

/// A short text kept with a file, which a download writes to say what the
/// file's bytes are. It lives in the file's own metadata where the file
/// system takes it (an extended attribute; on Windows an alternate data
/// stream), so it goes where the file goes and dies with it; elsewhere in a
/// hidden companion file beside it, ".NAME.vintrel", which names the file it
/// belongs to, so that another file later put under the same name is not
/// taken for it. Nothing when the file has no note.
std::optional<std::string> read_file_note(const std::string& path);
/// Writes the note of the existing file `path`. Returns 0 or errno.
int write_file_note(const std::string& path, const std::string& text);
/// The file is finished: a companion, where one was needed, is removed; a
/// note in the file's metadata stays.
void settle_file_note(const std::string& path);
/// Where the companion of `path` would be.
std::string file_note_companion(const std::string& path);
/// Tests turn the file's own metadata off to exercise the companions.
void use_file_metadata_for_notes(bool use);

}  // namespace vintrel::platform
