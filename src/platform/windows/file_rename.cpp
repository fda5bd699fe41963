#include "platform/file_rename.hpp"

#include <windows.h>

#include <cerrno>

#include "platform/windows/wide_text.hpp"

namespace vintrel::platform {

int rename_file(const std::string& from, const std::string& to) {
  const std::wstring source = windows::to_wide(from);
  const std::wstring target = windows::to_wide(to);
  if (source.empty() || target.empty()) return ENOENT;
  if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  return windows::errno_from_win32(GetLastError());
}

}  // namespace vintrel::platform
