#include "platform/file_rename.hpp"

#include <cerrno>
#include <cstdio>

namespace vintrel::platform {

int rename_file(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace vintrel::platform
