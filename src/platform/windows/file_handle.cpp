// Files through Win32: wide names, 64-bit positions, and errno numbers for
// failures, so the engine above sees the same handles and numbers as on
// Linux.

#include "platform/file_handle.hpp"

#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/windows/wide_text.hpp"

namespace vintrel::platform::file_handle {

namespace {

// Kernel handles fit in 32 bits on 64-bit Windows (the system keeps them so
// for 32-bit processes sharing them), so the handle travels as its value.
HANDLE as_handle(Handle handle) { return LongToHandle(handle); }

int last_errno() { return windows::errno_from_win32(GetLastError()); }

// One call moves at most this much: ReadFile and WriteFile count in DWORDs.
constexpr std::size_t largest_transfer = std::size_t{1} << 30;

}  // namespace

Handle open(const std::string& path, int& error) {
  const std::wstring name = windows::to_wide(path);
  if (name.empty()) {
    error = ENOENT;
    return none;
  }
  // Others may read, write and rename the file while it is open, as a
  // descriptor allows on Linux; the handle is not inherited by children.
  HANDLE handle =
      CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = last_errno();
    return none;
  }
  error = 0;
  return HandleToLong(handle);
}

int close(Handle handle) { return CloseHandle(as_handle(handle)) ? 0 : last_errno(); }

std::int64_t read(Handle handle, void* into, std::size_t size, int& error) {
  DWORD got = 0;
  if (!ReadFile(as_handle(handle), into, static_cast<DWORD>(std::min(size, largest_transfer)), &got, nullptr)) {
    // The end of a pipe reads as the end of the file.
    if (GetLastError() == ERROR_BROKEN_PIPE) {
      error = 0;
      return 0;
    }
    error = last_errno();
    return -1;
  }
  error = 0;
  return got;
}

std::int64_t write(Handle handle, const void* from, std::size_t size, int& error) {
  DWORD written = 0;
  if (!WriteFile(as_handle(handle), from, static_cast<DWORD>(std::min(size, largest_transfer)), &written, nullptr)) {
    error = last_errno();
    return -1;
  }
  error = 0;
  return written;
}

int sync(Handle handle) { return FlushFileBuffers(as_handle(handle)) ? 0 : last_errno(); }

int seek(Handle handle, std::int64_t offset, From from) {
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  const DWORD method = from == From::start ? FILE_BEGIN : FILE_CURRENT;
  return SetFilePointerEx(as_handle(handle), distance, nullptr, method) ? 0 : last_errno();
}

std::int64_t size(Handle handle) {
  LARGE_INTEGER bytes{};
  if (!GetFileSizeEx(as_handle(handle), &bytes)) return -1;
  return bytes.QuadPart;
}

int resize(Handle handle, std::int64_t size) {
  if (size < 0) return EINVAL;
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  return SetFileInformationByHandle(as_handle(handle), FileEndOfFileInfo, &end, sizeof end) ? 0 : last_errno();
}

}  // namespace vintrel::platform::file_handle
