#include "platform/file_handle.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

namespace vintrel::platform::file_handle {

// Positions are handed to the system as off_t; anything narrower would cut
// files at 2 GiB, which downloads routinely pass.
static_assert(sizeof(off_t) == 8, "64-bit file positions are required");

Handle open(const std::string& path, int& error) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd == -1 && errno == EINTR);
  error = fd == -1 ? errno : 0;
  return fd;
}

int close(Handle handle) {
  // Retrying close after EINTR could close a descriptor another thread has
  // just been given, so it is never retried.
  return ::close(handle) == 0 ? 0 : errno;
}

std::int64_t read(Handle handle, void* into, std::size_t size, int& error) {
  while (true) {
    const ssize_t got = ::read(handle, into, size);
    if (got >= 0) {
      error = 0;
      return got;
    }
    if (errno != EINTR) {
      error = errno;
      return -1;
    }
  }
}

std::int64_t write(Handle handle, const void* from, std::size_t size, int& error) {
  while (true) {
    const ssize_t written = ::write(handle, from, size);
    if (written >= 0) {
      error = 0;
      return written;
    }
    if (errno != EINTR) {
      error = errno;
      return -1;
    }
  }
}

int sync(Handle handle) {
  int rc = 0;
  do {
    rc = ::fsync(handle);
  } while (rc == -1 && errno == EINTR);
  return rc == -1 ? errno : 0;
}

int seek(Handle handle, std::int64_t offset, From from) {
  const int whence = from == From::start ? SEEK_SET : SEEK_CUR;
  return ::lseek(handle, static_cast<off_t>(offset), whence) == static_cast<off_t>(-1) ? errno : 0;
}

std::int64_t size(Handle handle) {
  struct stat status {};
  if (::fstat(handle, &status) != 0) return -1;
  return static_cast<std::int64_t>(status.st_size);
}

int resize(Handle handle, std::int64_t size) {
  int rc = 0;
  do {
    rc = ::ftruncate(handle, static_cast<off_t>(size));
  } while (rc == -1 && errno == EINTR);
  return rc == -1 ? errno : 0;
}

}  // namespace vintrel::platform::file_handle
