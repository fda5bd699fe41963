// Questions about local files, answered by Win32 with wide names.

#include "platform/file_system.hpp"

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/windows/wide_text.hpp"

namespace vintrel::platform {

namespace {

// The entry's attributes, read without opening the file.
bool attributes_of(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
  const std::wstring name = windows::to_wide(path);
  return !name.empty() && GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data);
}

bool is_folder(const WIN32_FILE_ATTRIBUTE_DATA& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::int64_t file_size_of(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!attributes_of(path, data) || is_folder(data)) return 0;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool file_exists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return attributes_of(path, data) && !is_folder(data);
}

bool folder_exists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return attributes_of(path, data) && is_folder(data);
}

FreeSpace free_space_of(const std::string& path) {
  std::wstring name = windows::to_wide(path);
  if (name.empty()) return {};
  // The call wants a folder; a file's own folder answers for it.
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const auto cut = name.find_last_of(L"\\/");
    name = cut == std::wstring::npos ? std::wstring(L".") : name.substr(0, cut + 1);
  }
  ULARGE_INTEGER available{};
  ULARGE_INTEGER total{};
  ULARGE_INTEGER total_free{};
  if (!GetDiskFreeSpaceExW(name.c_str(), &available, &total, &total_free)) return {};
  return {total_free.QuadPart, available.QuadPart};
}

std::string system_error_text(int error_number) {
  char buffer[256] = {};
  if (strerror_s(buffer, sizeof buffer, error_number) != 0) return {};
  return buffer;
}

char path_separator() { return '\\'; }

std::string root_volume() {
  // The drive Windows runs from; "C:\" when even that cannot be learnt.
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(folder, MAX_PATH);
  if (length >= 2 && length < MAX_PATH && folder[1] == L':') {
    return windows::to_utf8(std::wstring_view(folder, 2)) + "\\";
  }
  return "C:\\";
}

int truncate_file(const std::string& path, std::int64_t size) {
  if (size < 0) return EINVAL;
  const std::wstring name = windows::to_wide(path);
  if (name.empty()) return ENOENT;
  HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return windows::errno_from_win32(GetLastError());
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  const int result = SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end)
                         ? 0
                         : windows::errno_from_win32(GetLastError());
  CloseHandle(handle);
  return result;
}

}  // namespace vintrel::platform
