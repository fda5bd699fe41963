#include "files/file_io.hpp"

#include <cerrno>
#include <cstddef>

#include "automation/automation.hpp"
#include "platform/file_handle.hpp"
#include "platform/file_system.hpp"

namespace vintrel::files {

namespace {

constexpr const char* crlf = "\r\n";

// Which descriptions carry the "Error n / text" tail of the last system call.
bool has_error_suffix(std::int32_t number) {
  return number == ErrFileAlreadyOpen || number == ErrOpenFailed || number == ErrWriteFailed;
}

}  // namespace

std::string systemErrorText(int code) {
  // The C library names codes it does not know "Unknown error NNN"; script
  // would rather see one fixed text than a number it already has.
  std::string text = platform::system_error_text(code);
  if (text.empty() || text.starts_with("Unknown error")) return "Unknown Error.";
  return text;
}

FileIO::~FileIO() {
  if (handle_ != -1) platform::file_handle::close(handle_);
}

void FileIO::raiseFileError(std::int32_t number, const std::string& argument) const {
  std::string description;
  switch (number) {
    case ErrFileAlreadyOpen:
      description = "The file '" + argument + "' is already open.";
      break;
    case ErrOpenFailed:
      description = "Error opening '" + argument + "'.";
      break;
    case ErrNoOpenFile:
      description = "There is no open file.";
      break;
    case ErrSeekFailed:
      // The code appears twice: the object always wrote it that way.
      description = "Seek Error." + std::string(crlf) + "Error " + std::to_string(last_error_) + "." + crlf +
                    std::to_string(last_error_);
      break;
    case ErrWriteFailed:
      description = "Error writing '" + argument + "'.";
      break;
    default:
      description = argument;
      break;
  }
  if (has_error_suffix(number) && last_error_ != 0) {
    description += crlf;
    description += "Error " + std::to_string(last_error_);
    description += crlf;
    description += systemErrorText(last_error_);
  }
  automation::raise(number, file_error_source, description);
}

std::int32_t FileIO::FileHandle() const {
  if (!IsOpen()) raiseFileError(ErrNoOpenFile, {});
  return handle_;
}

const std::string& FileIO::FileName() const {
  if (!IsOpen()) raiseFileError(ErrNoOpenFile, {});
  return name_;
}

bool FileIO::AutoFlush() const {
  if (!IsOpen()) raiseFileError(ErrNoOpenFile, {});
  return auto_flush_;
}

void FileIO::AutoFlush(bool NewVal) {
  if (!IsOpen()) raiseFileError(ErrNoOpenFile, {});
  auto_flush_ = NewVal;
}

void FileIO::OpenFile(const std::string& sFilename) {
  if (IsOpen()) raiseFileError(ErrFileAlreadyOpen, name_);
  const platform::file_handle::Handle fd = platform::file_handle::open(sFilename, last_error_);
  if (fd == platform::file_handle::none) raiseFileError(ErrOpenFailed, sFilename);
  handle_ = fd;
  name_ = sFilename;
}

void FileIO::CloseFile() {
  if (!IsOpen()) raiseFileError(ErrNoOpenFile, {});
  // Nothing useful can follow a failed close: the descriptor is gone either
  // way, and retrying could close one another thread has just opened.
  last_error_ = platform::file_handle::close(handle_);
  handle_ = -1;
  name_.clear();
  auto_flush_ = false;
}

std::vector<std::uint8_t> FileIO::ReadBytes(std::int32_t ByteCount) {
  if (!IsOpen()) raiseFileError(ErrNoOpenFile, {});
  if (ByteCount < 1) automation::raise(automation::err::invalid_call);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(ByteCount), 0);
  std::size_t filled = 0;
  // Reading stops at the end of the file or at an error; the caller asked
  // for a fixed-size block, so what was not read stays zero.
  while (filled < bytes.size()) {
    const std::int64_t got =
        platform::file_handle::read(handle_, bytes.data() + filled, bytes.size() - filled, last_error_);
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
  }
  return bytes;
}

void FileIO::WriteBytes(std::span<const std::uint8_t> DataBytes) {
  if (!IsOpen()) raiseFileError(ErrNoOpenFile, {});
  const std::uint8_t* data = DataBytes.data();
  std::size_t left = DataBytes.size();
  while (left > 0) {
    const std::int64_t written = platform::file_handle::write(handle_, data, left, last_error_);
    if (written < 0) raiseFileError(ErrWriteFailed, name_);
    if (written == 0) {
      // A write that takes nothing would spin forever; for a file that is a
      // full volume.
      last_error_ = ENOSPC;
      raiseFileError(ErrWriteFailed, name_);
    }
    last_error_ = 0;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  if (auto_flush_) Flush();
}

void FileIO::Flush() {
  if (!IsOpen()) raiseFileError(ErrNoOpenFile, {});
  last_error_ = platform::file_handle::sync(handle_);
  // Devices and pipes (a write to /dev/null, say) cannot be synced and say
  // so with EINVAL or EROFS; their data has gone where it goes, so that is
  // not a failed write.
  if (last_error_ == EINVAL || last_error_ == EROFS) last_error_ = 0;
  if (last_error_ != 0) raiseFileError(ErrWriteFailed, name_);
}

void FileIO::SeekAbsolute(std::int32_t HighPos, std::int32_t LowPos) {
  if (!IsOpen()) raiseFileError(ErrNoOpenFile, {});
  // The low half is unsigned: script passes 2^31..2^32-1 as negative longs.
  const std::int64_t position =
      static_cast<std::int64_t>(HighPos) * 4294967296LL + static_cast<std::int64_t>(static_cast<std::uint32_t>(LowPos));
  // Callers never learned of a failed absolute seek; the next write tells.
  last_error_ = platform::file_handle::seek(handle_, position, platform::file_handle::From::start);
}

void FileIO::SeekRelative(std::int32_t Offset) {
  if (!IsOpen()) raiseFileError(ErrNoOpenFile, {});
  last_error_ = platform::file_handle::seek(handle_, Offset, platform::file_handle::From::current);
  if (last_error_ != 0) raiseFileError(ErrSeekFailed, {});
}

}  // namespace vintrel::files
