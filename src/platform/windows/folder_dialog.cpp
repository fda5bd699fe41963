// The folder dialogs of the Windows build: the shell's chooser, the fixed
// answer, and the cancellation every dialog falls back on.

#include "platform/windows/folder_dialog.hpp"

#include <objbase.h>
#include <shobjidl.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/event_loop.hpp"
#include "platform/folder_dialog_parts.hpp"
#include "platform/folder_dialogs.hpp"
#include "platform/windows/message_loop.hpp"
#include "platform/windows/wide_text.hpp"

namespace vintrel::platform {

void cancel_later(EventLoop& loop, FolderDialog::Answer answer) {
  loop.post([answer = std::move(answer)] {
    if (answer) answer(std::nullopt);
  });
}

FixedFolderDialog::FixedFolderDialog(EventLoop& loop, std::string folder) : loop_(loop), folder_(std::move(folder)) {}

void FixedFolderDialog::show(const std::string&, const std::string&, Answer answer) {
  // Posted even though the folder is known: callers count on show()
  // returning before the answer, as every other dialog does.
  loop_.post([answer = std::move(answer), folder = folder_] {
    if (answer) answer(folder);
  });
}

namespace windows {

namespace {

std::optional<std::wstring> environment_value(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
  if (length == 0 || length >= needed) return std::nullopt;
  value.resize(length);
  return value;
}

std::optional<std::wstring> registry_value() {
  DWORD bytes = 0;
  // A string value; any other kind is no answer.
  constexpr DWORD flags = RRF_RT_REG_SZ;
  if (RegGetValueW(HKEY_CURRENT_USER, folder_answer_key, folder_answer_value, flags, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, folder_answer_key, folder_answer_value, flags, nullptr, value.data(), &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  return value;
}

template <class Interface>
struct Released {
  Interface* pointer = nullptr;
  ~Released() {
    if (pointer != nullptr) pointer->Release();
  }
};

std::string hresult_text(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// A service or a task run without a logged-on desktop has a window station
// nobody sees: a dialog there would wait for ever for nobody.
bool desktop_visible() {
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  if (station == nullptr || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Shows the chooser and waits for the person; the answer as a file-system
// path, or nothing when cancelled or when it cannot be shown (then
// `failure` says why).
std::optional<std::string> ask_desktop(EventLoop& loop, const std::string& title, const std::string& preselect,
                                       FolderFailure& failure) {
  const auto cannot_ask = [&failure](std::string why) {
    failure = {FolderFailure::Kind::cannot_ask, "The folder dialog cannot be shown: " + std::move(why)};
    return std::nullopt;
  };
  if (!desktop_visible()) return cannot_ask("the process has no interactive desktop");
  Released<IFileOpenDialog> dialog;
  const HRESULT made = CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                        reinterpret_cast<void**>(&dialog.pointer));
  if (FAILED(made)) return cannot_ask("the shell's folder chooser is not available (" + hresult_text(made) + ")");
  FILEOPENDIALOGOPTIONS options = 0;
  dialog.pointer->GetOptions(&options);
  dialog.pointer->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  if (!title.empty()) dialog.pointer->SetTitle(to_wide(title).c_str());
  if (const auto start = existing_folder(preselect)) {
    Released<IShellItem> folder;
    if (SUCCEEDED(SHCreateItemFromParsingName(to_wide(*start).c_str(), nullptr, IID_IShellItem,
                                              reinterpret_cast<void**>(&folder.pointer)))) {
      dialog.pointer->SetFolder(folder.pointer);
    }
  }
  HRESULT shown = E_FAIL;
  deliver_during(loop, [&] { shown = dialog.pointer->Show(GetActiveWindow()); });
  // The person's cancel is no failure; any other refusal to show is.
  if (shown == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return std::nullopt;
  if (FAILED(shown)) return cannot_ask("the shell's folder chooser failed (" + hresult_text(shown) + ")");
  Released<IShellItem> result;
  if (FAILED(dialog.pointer->GetResult(&result.pointer))) return std::nullopt;
  wchar_t* path = nullptr;
  if (FAILED(result.pointer->GetDisplayName(SIGDN_FILESYSPATH, &path)) || path == nullptr) return std::nullopt;
  std::string chosen = to_utf8(path);
  CoTaskMemFree(path);
  auto folder = existing_folder(chosen);
  if (!folder) failure = {FolderFailure::Kind::unusable_answer, "The chosen folder " + chosen + " does not exist"};
  return folder;
}

}  // namespace

std::optional<std::string> configured_folder_answer() {
  if (auto value = environment_value(to_wide(folder_answer_variable).c_str())) return to_utf8(*value);
  if (auto value = registry_value()) return to_utf8(*value);
  return std::nullopt;
}

std::optional<std::string> existing_folder(const std::string& text) {
  const std::wstring name = to_wide(text);
  if (name.empty()) return std::nullopt;
  const DWORD needed = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(name.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return std::nullopt;
  full.resize(length);
  // "C:\" is a folder with its separator; "C:\Downloads\" is not.
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  const DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return std::nullopt;
  return to_utf8(full);
}

}  // namespace windows

struct ShellFolderDialog::State {
  bool showing = false;
  FolderFailure failure;
};

ShellFolderDialog::ShellFolderDialog(EventLoop& loop) : loop_(loop), state_(std::make_shared<State>()) {}

ShellFolderDialog::~ShellFolderDialog() = default;

void ShellFolderDialog::show(const std::string& title, const std::string& preselect, Answer answer) {
  if (state_->showing) {
    cancel_later(loop_, std::move(answer));
    return;
  }
  state_->showing = true;
  state_->failure = {};
  loop_.post([&loop = loop_, state = state_, title, preselect, answer = std::move(answer)] {
    std::optional<std::string> folder;
    FolderFailure failure;
    if (const auto configured = windows::configured_folder_answer()) {
      if (*configured != windows::folder_answer_cancel) {
        folder = windows::existing_folder(*configured);
        // A mistyped answer must not pass for a cancel: the host would go
        // on as though someone had said no.
        if (!folder)
          failure = {FolderFailure::Kind::unusable_answer,
                     "The folder answer \"" + *configured + "\" (" + windows::folder_answer_variable + " or HKCU\\" +
                         windows::to_utf8(windows::folder_answer_key) + "\\" +
                         windows::to_utf8(windows::folder_answer_value) + ") is not an existing folder"};
      }
    } else {
      folder = windows::ask_desktop(loop, title, preselect, failure);
    }
    state->showing = false;
    state->failure = std::move(failure);
    if (answer) answer(std::move(folder));
  });
}

FolderFailure ShellFolderDialog::failure() const { return state_->failure; }

}  // namespace vintrel::platform
