// Questions about local files, answered by Win32 with wide names.

#include "platform/file_system.hpp"

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

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

namespace {

std::atomic<bool> note_metadata{true};
constexpr const wchar_t* note_stream = L":vintrel.record";

// The whole content of `name` (a file or a stream of one); nothing when it
// cannot be opened.
std::optional<std::string> read_all(const std::wstring& name, DWORD& error) {
  HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return std::nullopt;
  }
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0 && text.size() < 65536)
    text.append(buffer, got);
  CloseHandle(handle);
  error = 0;
  return text;
}

DWORD write_all(const std::wstring& name, const std::string& text, DWORD attributes) {
  HANDLE handle =
      CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD written = 0;
  const BOOL ok = WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  const DWORD error = ok && written == text.size() ? 0 : GetLastError();
  CloseHandle(handle);
  return ok && written == text.size() ? 0 : (error != 0 ? error : ERROR_WRITE_FAULT);
}

// What ties a companion to its file: a new file under the same name has
// another file index.
std::string identity_of(const std::string& path) {
  const std::wstring name = windows::to_wide(path);
  HANDLE handle = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL ok = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  if (!ok) return {};
  return "file " + std::to_string(info.dwVolumeSerialNumber) + ":" +
         std::to_string((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}

// Whether the volume holding `name` keeps named streams (NTFS, ReFS). A
// volume that does not may still take "name:stream" as a plain file name
// (Wine's folders do): its notes would outlive their file.
bool keeps_streams(const std::wstring& name) {
  wchar_t root[MAX_PATH + 1] = {};
  if (!GetVolumePathNameW(name.c_str(), root, MAX_PATH)) return false;
  DWORD flags = 0;
  if (!GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return false;
  return (flags & FILE_NAMED_STREAMS) != 0;
}

// Streams a file system does not keep fail with these.
bool streams_unsupported(DWORD error) {
  return error == ERROR_INVALID_NAME || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER ||
         error == ERROR_INVALID_FUNCTION || error == ERROR_DIRECTORY;
}

}  // namespace

std::string file_note_companion(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(0, name) + "." + path.substr(name) + ".vintrel";
}

void use_file_metadata_for_notes(bool use) { note_metadata = use; }

std::optional<std::string> read_file_note(const std::string& path) {
  const std::wstring name = windows::to_wide(path);
  if (name.empty()) return std::nullopt;
  if (note_metadata && keeps_streams(name)) {
    DWORD error = 0;
    if (auto value = read_all(name + note_stream, error)) return value;
    if (!streams_unsupported(error)) return std::nullopt;
  }
  DWORD error = 0;
  const auto text = read_all(windows::to_wide(file_note_companion(path)), error);
  if (!text) return std::nullopt;
  const auto line_end = text->find('\n');
  if (line_end == std::string::npos || line_end == 0 || text->substr(0, line_end) != identity_of(path))
    return std::nullopt;
  return text->substr(line_end + 1);
}

int write_file_note(const std::string& path, const std::string& text) {
  const std::wstring name = windows::to_wide(path);
  // Opening a stream of a missing file would create the file.
  if (name.empty() || !file_exists(path)) return ENOENT;
  if (note_metadata && keeps_streams(name)) {
    const DWORD error = write_all(name + note_stream, text, FILE_ATTRIBUTE_NORMAL);
    if (error == 0) return 0;
    if (!streams_unsupported(error)) return windows::errno_from_win32(error);
  }
  const std::string identity = identity_of(path);
  if (identity.empty()) return ENOENT;
  const std::wstring companion = windows::to_wide(file_note_companion(path));
  const std::wstring temporary = companion + L".new";
  if (const DWORD error = write_all(temporary, identity + "\n" + text, FILE_ATTRIBUTE_HIDDEN))
    return windows::errno_from_win32(error);
  if (!MoveFileExW(temporary.c_str(), companion.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = GetLastError();
    DeleteFileW(temporary.c_str());
    return windows::errno_from_win32(error);
  }
  return 0;
}

void settle_file_note(const std::string& path) { DeleteFileW(windows::to_wide(file_note_companion(path)).c_str()); }

}  // namespace vintrel::platform
