// Opening a file with its default program: the shell's "open" verb.

#include "platform/shell.hpp"

#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include "platform/platform.hpp"
#include "platform/windows/wide_text.hpp"

namespace vintrel::platform {

void Platform::shell_open(const std::string& path) { open_with_default_program(path); }

void open_with_default_program(const std::string& path) {
  const std::wstring name = windows::to_wide(path);
  if (name.empty()) return;
  // The file is handed over as a name, never as a command line; the shell
  // may run handlers that need COM on this thread, which the control's
  // caller has set up (a single-threaded apartment). What comes of it is
  // not examined.
  ShellExecuteW(nullptr, L"open", name.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace vintrel::platform
