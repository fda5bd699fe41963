#include "platform/numbered_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace vintrel::platform {

namespace {

// Positions are handed to the system as off_t; anything narrower would cut
// files at 2 GiB, which downloads routinely pass.
static_assert(sizeof(off_t) == 8, "64-bit file positions are required");

int open_descriptor(const std::string& path, int& error) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd == -1 && errno == EINTR);
  error = fd == -1 ? errno : 0;
  return fd;
}

// Writes the whole buffer. A write that takes nothing would loop forever, so
// it is reported as a full disk, which is what it means for a plain file.
int write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return ENOSPC;
    const auto done = static_cast<std::size_t>(written);
    data += done;
    size -= done;
  }
  return 0;
}

}  // namespace

NumberedFiles::~NumberedFiles() {
  for (const auto& [number, fd] : descriptors_) ::close(fd);
}

int NumberedFiles::Open(std::int32_t number, const std::string& path) {
  Close(number);
  int error = 0;
  const int fd = open_descriptor(path, error);
  if (fd == -1) return error;
  descriptors_[number] = fd;
  return 0;
}

int NumberedFiles::Write(std::int32_t number, std::span<const std::uint8_t> bytes) {
  const auto it = descriptors_.find(number);
  if (it == descriptors_.end()) return EBADF;
  return write_all(it->second, bytes.data(), bytes.size());
}

int NumberedFiles::Seek(std::int32_t number, std::int64_t position) {
  const auto it = descriptors_.find(number);
  if (it == descriptors_.end()) return EBADF;
  if (::lseek(it->second, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(-1)) return errno;
  return 0;
}

int NumberedFiles::Truncate(std::int32_t number, std::int64_t size) {
  const auto it = descriptors_.find(number);
  if (it == descriptors_.end()) return EBADF;
  // A file that has the size already is left alone. ext4 takes a cut to
  // zero bytes for a program replacing a file and then writes the whole file
  // back inside its close(): for a fresh download that made the last close
  // take a third of a second per GiB and charged the write-back to us.
  struct stat status {};
  if (::fstat(it->second, &status) == 0 && status.st_size == static_cast<off_t>(size)) return 0;
  int rc = 0;
  do {
    rc = ::ftruncate(it->second, static_cast<off_t>(size));
  } while (rc == -1 && errno == EINTR);
  return rc == -1 ? errno : 0;
}

void NumberedFiles::Close(std::int32_t number) {
  const auto it = descriptors_.find(number);
  if (it == descriptors_.end()) return;
  // Retrying close after EINTR could close a descriptor another thread has
  // just been given, so the result is left alone.
  ::close(it->second);
  descriptors_.erase(it);
}

bool NumberedFiles::IsOpen(std::int32_t number) const { return descriptors_.contains(number); }

}  // namespace vintrel::platform
