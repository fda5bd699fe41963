#include "platform/hasher.hpp"

#include <algorithm>
#include <cerrno>

#include "platform/file_handle.hpp"
#include "platform/file_system.hpp"

namespace vintrel::platform {

int hash_file_part(Hasher& hasher, const std::string& path, std::int64_t length) {
  // Opening would make a missing file.
  if (!file_exists(path)) return ENOENT;
  int error = 0;
  const file_handle::Handle file = file_handle::open(path, error);
  if (file == file_handle::none) return error;
  // Read in pieces: a part may be gigabytes, and memory stays small.
  std::vector<std::uint8_t> buffer(std::size_t{256} * 1024);
  std::int64_t left = length;
  while (left > 0 && error == 0) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
    const std::int64_t got = file_handle::read(file, buffer.data(), want, error);
    if (got < 0) break;
    if (got == 0) error = EIO;
    hasher.update(std::span(buffer).first(static_cast<std::size_t>(got)));
    left -= got;
  }
  const int closed = file_handle::close(file);
  return error != 0 ? error : closed;
}

}  // namespace vintrel::platform
