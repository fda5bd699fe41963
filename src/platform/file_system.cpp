#include "platform/file_system.hpp"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vintrel::platform {

namespace {

// strerror_r comes in two shapes: the XSI one returns a status and fills the
// buffer, the GNU one returns the text (maybe a static string). Overloads on
// the return type take whichever the C library declares.
[[maybe_unused]] const char* strerror_result(int status, const char* buffer) { return status == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }

}  // namespace

std::int64_t file_size_of(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  // A folder has a size in its entry, but it is no file to resume into.
  if (S_ISDIR(info.st_mode)) return 0;
  return static_cast<std::int64_t>(info.st_size);
}

bool file_exists(const std::string& path) {
  // Existence is about the entry, not about access: a read-only file exists.
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool folder_exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

FreeSpace free_space_of(const std::string& path) {
  struct statvfs info {};
  if (::statvfs(path.c_str(), &info) != 0) return {};
  const auto fragment = static_cast<std::uint64_t>(info.f_frsize);
  return {static_cast<std::uint64_t>(info.f_bfree) * fragment, static_cast<std::uint64_t>(info.f_bavail) * fragment};
}

std::string system_error_text(int error_number) {
  // strerror itself may share one buffer between threads.
  char buffer[256] = {};
  const char* text = strerror_result(::strerror_r(error_number, buffer, sizeof buffer), buffer);
  return text == nullptr ? std::string() : std::string(text);
}

char path_separator() { return '/'; }

std::string root_volume() { return "/"; }

}  // namespace vintrel::platform

namespace vintrel::platform {

int truncate_file(const std::string& path, std::int64_t size) {
  while (::truncate(path.c_str(), static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace vintrel::platform
