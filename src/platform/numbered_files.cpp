#include "platform/numbered_files.hpp"

#include <cerrno>
#include <cstddef>

#include "platform/file_handle.hpp"

namespace vintrel::platform {

namespace {

// Writes the whole buffer. A write that takes nothing would loop forever, so
// it is reported as a full disk, which is what it means for a plain file.
int write_all(file_handle::Handle handle, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    int error = 0;
    const std::int64_t written = file_handle::write(handle, data, size, error);
    if (written < 0) return error;
    if (written == 0) return ENOSPC;
    const auto done = static_cast<std::size_t>(written);
    data += done;
    size -= done;
  }
  return 0;
}

}  // namespace

NumberedFiles::~NumberedFiles() {
  for (const auto& [number, handle] : descriptors_) file_handle::close(handle);
}

int NumberedFiles::Open(std::int32_t number, const std::string& path) {
  Close(number);
  int error = 0;
  const file_handle::Handle handle = file_handle::open(path, error);
  if (handle == file_handle::none) return error;
  descriptors_[number] = handle;
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
  return file_handle::seek(it->second, position, file_handle::From::start);
}

int NumberedFiles::Truncate(std::int32_t number, std::int64_t size) {
  const auto it = descriptors_.find(number);
  if (it == descriptors_.end()) return EBADF;
  // A file that has the size already is left alone. ext4 takes a cut to
  // zero bytes for a program replacing a file and then writes the whole file
  // back inside its close(): for a fresh download that made the last close
  // take a third of a second per GiB and charged the write-back to us.
  if (file_handle::size(it->second) == size) return 0;
  return file_handle::resize(it->second, size);
}

void NumberedFiles::Close(std::int32_t number) {
  const auto it = descriptors_.find(number);
  if (it == descriptors_.end()) return;
  // The result is left alone: the file is closed either way.
  file_handle::close(it->second);
  descriptors_.erase(it);
}

bool NumberedFiles::IsOpen(std::int32_t number) const { return descriptors_.contains(number); }

}  // namespace vintrel::platform
