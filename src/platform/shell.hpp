#pragma once
// Desktop services: starting the default program for a file.

#include <string>

namespace vintrel::platform {

/// Opens `path` with the desktop's default program (xdg-open), started with
/// an argument vector, never through a shell. Returns at once; nothing
/// happens where no opener exists.
void open_with_default_program(const std::string& path);

}  // namespace vintrel::platform
