#pragma once
// Moving a file to another name in the same folder.

#include <string>

namespace vintrel::platform {

/// Renames the file `from` to `to`, replacing a file of that name. Returns
/// 0 or the errno of the failure.
int rename_file(const std::string& from, const std::string& to);

}  // namespace vintrel::platform
