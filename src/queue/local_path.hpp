#pragma once
// Where a download lands: the chosen folder joined with the file's name.

#include <string>

namespace vintrel::queue {

/// `folder` + "/" + `name`, with every "//" then collapsed to "/" (one pass),
/// so the folder "/" gives "/name" rather than "//name".
std::string join_local_path(const std::string& folder, const std::string& name);

}  // namespace vintrel::queue
