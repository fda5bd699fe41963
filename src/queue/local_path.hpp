#pragma once
// Where a download lands: the chosen folder joined with the file's name.

#include <string>

namespace vintrel::queue {

/// `folder` + "/" + `name`, with every "//" then collapsed to "/" (one pass),
/// so the folder "/" gives "/name" rather than "//name". The separator is the
/// platform's (platform::path_separator(): "\" on Windows).
std::string join_local_path(const std::string& folder, const std::string& name);

/// `path` with every doubled separator collapsed to one (one pass, as
/// join_local_path does). On Windows a leading "\\" stays: it begins a
/// network path (\\server\share), which one backslash would turn into a
/// folder of the current drive.
std::string collapse_doubled_separators(const std::string& path);

}  // namespace vintrel::queue
