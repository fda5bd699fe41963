#pragma once
// Text at the Win32 boundary: the engine speaks UTF-8, Windows' wide entry
// points UTF-16. Also the translation of Win32 error codes to the errno
// numbers the engine reports on every system.

#include <string>
#include <string_view>

namespace vintrel::platform::windows {

/// `text` (UTF-8) as UTF-16; invalid sequences become U+FFFD.
std::wstring to_wide(std::string_view text);
/// `text` (UTF-16) as UTF-8; unpaired surrogates become U+FFFD.
std::string to_utf8(std::wstring_view text);

/// The errno number of the same condition as the Win32 error `code` (a
/// full disk is ENOSPC, a refused open EACCES...); EIO for codes without
/// one.
int errno_from_win32(unsigned long code);

}  // namespace vintrel::platform::windows
