// The fixed dialog, the choice of dialog for where the program runs, and
// what the terminal prompt and the desktop chooser share. They live in
// terminal_folder_dialog.cpp and desktop_folder_dialog.cpp.

#include "platform/folder_dialogs.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/event_loop.hpp"
#include "platform/folder_dialog_parts.hpp"

namespace vintrel::platform {

void cancel_later(EventLoop& loop, FolderDialog::Answer answer) {
  loop.post([answer = std::move(answer)] {
    if (answer) answer(std::nullopt);
  });
}

std::string absolute_folder(const std::string& text) {
  std::filesystem::path path(text);
  if (path.is_relative()) {
    std::error_code ignored;
    path = std::filesystem::current_path(ignored) / path;
  }
  std::string normal = path.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

// ---------------------------------------------------------------------------
// Fixed

FixedFolderDialog::FixedFolderDialog(EventLoop& loop, std::string folder) : loop_(loop), folder_(std::move(folder)) {}

void FixedFolderDialog::show(const std::string&, const std::string&, Answer answer) {
  // Posted even though the folder is known: callers count on show()
  // returning before the answer, as every other dialog does.
  loop_.post([answer = std::move(answer), folder = folder_] {
    if (answer) answer(folder);
  });
}

// ---------------------------------------------------------------------------

std::unique_ptr<FolderDialog> make_desktop_folder_dialog(EventLoop& loop) {
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  if ((set("DISPLAY") || set("WAYLAND_DISPLAY")) && program_on_path("zenity")) {
    return std::make_unique<DesktopFolderDialog>(loop, "zenity");
  }
  return nullptr;
}

std::unique_ptr<FolderDialog> make_interactive_folder_dialog(EventLoop& loop) {
  if (auto desktop = make_desktop_folder_dialog(loop)) return desktop;
  if (::isatty(0)) {
    // Prompts go where the user sees them even when output is redirected.
    return std::make_unique<TerminalFolderDialog>(loop, 0, ::isatty(1) ? 1 : 2);
  }
  return nullptr;
}

bool program_on_path(const std::string& name) {
  const auto executable = [](const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
  };
  if (name.empty()) return false;
  if (name.find('/') != std::string::npos) return executable(name);
  const char* variable = std::getenv("PATH");
  // Unset PATH: the same default posix_spawnp falls back to.
  const std::string path = variable ? variable : "/bin:/usr/bin";
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = path.find(':', begin);
    const std::string entry = path.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    std::string candidate = entry.empty() ? std::string(".") : entry;  // an empty entry is the current folder
    candidate.append("/").append(name);
    if (executable(candidate)) return true;
    if (end == std::string::npos) return false;
    begin = end + 1;
  }
}

}  // namespace vintrel::platform
