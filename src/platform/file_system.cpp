#include "platform/file_system.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

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

namespace vintrel::platform {

namespace {

constexpr const char* note_attribute = "user.vintrel.record";
std::atomic<bool> note_metadata{true};

// What ties a companion to its file: a new file under the same name is
// another inode, or the same inode number born again later.
std::string identity_of(const std::string& path) {
  struct statx info {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &info) != 0) return {};
  std::string identity = "file " + std::to_string(info.stx_dev_major) + ":" + std::to_string(info.stx_dev_minor) + ":" +
                         std::to_string(info.stx_ino);
  if ((info.stx_mask & STATX_BTIME) != 0)
    identity += ":" + std::to_string(info.stx_btime.tv_sec) + "." + std::to_string(info.stx_btime.tv_nsec);
  return identity;
}

std::optional<std::string> read_attribute(const std::string& path, int& error) {
  error = 0;
  std::string value(512, '\0');
  for (;;) {
    const ssize_t got = ::getxattr(path.c_str(), note_attribute, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
    if (errno != ERANGE || value.size() >= 65536) {
      error = errno;
      return std::nullopt;
    }
    value.resize(value.size() * 4);
  }
}

}  // namespace

std::string file_note_companion(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, name) + "." + path.substr(name) + ".vintrel";
}

void use_file_metadata_for_notes(bool use) { note_metadata = use; }

std::optional<std::string> read_file_note(const std::string& path) {
  if (note_metadata) {
    int error = 0;
    if (auto value = read_attribute(path, error)) return value;
    // The file system keeps attributes and this file has none: a companion
    // left from elsewhere says nothing about it.
    if (error != ENOTSUP && error != EPERM) return std::nullopt;
  }
  std::ifstream in(file_note_companion(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::string first;
  if (!std::getline(in, first) || first.empty() || first != identity_of(path)) return std::nullopt;
  std::ostringstream rest;
  rest << in.rdbuf();
  return rest.str();
}

int write_file_note(const std::string& path, const std::string& text) {
  if (note_metadata) {
    if (::setxattr(path.c_str(), note_attribute, text.data(), text.size(), 0) == 0) return 0;
    if (errno != ENOTSUP && errno != EPERM) return errno;
  }
  const std::string identity = identity_of(path);
  if (identity.empty()) return ENOENT;
  // Written beside and renamed over: a companion is whole or absent.
  const std::string companion = file_note_companion(path);
  const std::string temporary = companion + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return errno != 0 ? errno : EIO;
    out << identity << '\n' << text;
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return EIO;
    }
  }
  if (std::rename(temporary.c_str(), companion.c_str()) != 0) {
    const int error = errno;
    std::remove(temporary.c_str());
    return error;
  }
  return 0;
}

void settle_file_note(const std::string& path) { std::remove(file_note_companion(path).c_str()); }

}  // namespace vintrel::platform
