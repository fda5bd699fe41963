// The folder dialog answered by the test setting (the environment variable,
// else the registry value) instead of a person; the answer comes later, on
// the loop.

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/event_loop.hpp"
#include "platform/windows/folder_dialog.hpp"
#include "platform/windows/wide_text.hpp"
#include "pump.hpp"

namespace vintrel::windows_tests {
namespace {

using platform::windows::to_wide;

// Sets the variable for the test's lifetime (unset when `value` is empty).
class AnswerVariable {
 public:
  explicit AnswerVariable(const std::string& value) {
    SetEnvironmentVariableW(L"VINTREL_FOLDER_ANSWER", value.empty() ? nullptr : to_wide(value).c_str());
  }
  ~AnswerVariable() { SetEnvironmentVariableW(L"VINTREL_FOLDER_ANSWER", nullptr); }
  AnswerVariable(const AnswerVariable&) = delete;
  AnswerVariable& operator=(const AnswerVariable&) = delete;
};

// Sets the registry value for the test's lifetime.
class AnswerValue {
 public:
  explicit AnswerValue(const std::string& value) {
    const std::wstring wide = to_wide(value);
    HKEY key = nullptr;
    EXPECT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Vintrel", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"FolderAnswer", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                             static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  ~AnswerValue() { RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Vintrel", L"FolderAnswer"); }
  AnswerValue(const AnswerValue&) = delete;
  AnswerValue& operator=(const AnswerValue&) = delete;
};

struct Outcome {
  bool given = false;
  std::optional<std::string> folder;
};

Outcome ask(platform::FolderDialog& dialog, const std::string& preselect = {}) {
  Outcome outcome;
  dialog.show("Choose", preselect, [&](std::optional<std::string> folder) {
    outcome.given = true;
    outcome.folder = std::move(folder);
  });
  // Never inside show().
  EXPECT_FALSE(outcome.given);
  EXPECT_TRUE(pump_until([&] { return outcome.given; }));
  return outcome;
}

TEST(WindowsFolderDialog, TheVariableAnswersWithTheFolderMadeAbsolute) {
  TempFolder folder;
  platform::EventLoop loop;
  platform::ShellFolderDialog dialog(loop);
  {
    // A trailing separator goes; the answer names the same folder.
    AnswerVariable answer(folder.text() + "\\");
    const Outcome outcome = ask(dialog);
    ASSERT_TRUE(outcome.folder.has_value());
    EXPECT_EQ(*outcome.folder, folder.text());
  }
  {
    // A UTF-8 folder name survives the round trip.
    const std::string inner = folder.file("D\xC3\xA9j\xC3\xA0 vu");
    ASSERT_TRUE(CreateDirectoryW(to_wide(inner).c_str(), nullptr));
    AnswerVariable answer(inner);
    const Outcome outcome = ask(dialog);
    ASSERT_TRUE(outcome.folder.has_value());
    EXPECT_EQ(*outcome.folder, inner);
  }
  {
    AnswerVariable answer("C:\\");
    EXPECT_EQ(ask(dialog).folder, std::optional<std::string>("C:\\"));
  }
}

// The cancel answer is a person saying no; an answer naming a missing
// folder or a file is a mistake the host must hear of, not a cancel.
TEST(WindowsFolderDialog, TheCancelAnswerCancelsAMissingFolderOrAFileFails) {
  TempFolder folder;
  const std::string file = folder.file("file.txt");
  HANDLE handle = CreateFileW(to_wide(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  CloseHandle(handle);
  using Kind = platform::FolderFailure::Kind;
  const struct {
    std::string answer;
    Kind kind;
  } cases[] = {
      {":cancel", Kind::none},
      {folder.file("missing"), Kind::unusable_answer},
      {file, Kind::unusable_answer},
  };
  platform::EventLoop loop;
  platform::ShellFolderDialog dialog(loop);
  for (const auto& t : cases) {
    SCOPED_TRACE(t.answer);
    AnswerVariable answer(t.answer);
    EXPECT_FALSE(ask(dialog).folder.has_value());
    const platform::FolderFailure failure = dialog.failure();
    EXPECT_EQ(failure.kind, t.kind);
    if (t.kind != Kind::none) {
      EXPECT_NE(failure.description.find(t.answer), std::string::npos) << failure.description;
    }
  }
  // A good answer after a failed one carries no failure.
  AnswerVariable answer(folder.text());
  EXPECT_EQ(ask(dialog).folder, folder.text());
  EXPECT_EQ(dialog.failure().kind, Kind::none);
}

TEST(WindowsFolderDialog, TheRegistryValueAnswersWhenTheVariableIsUnset) {
  TempFolder from_registry;
  TempFolder from_variable;
  platform::EventLoop loop;
  platform::ShellFolderDialog dialog(loop);
  AnswerValue value(from_registry.text());
  EXPECT_EQ(platform::windows::configured_folder_answer(), from_registry.text());
  EXPECT_EQ(ask(dialog).folder, from_registry.text());
  // The variable wins over the value.
  AnswerVariable answer(from_variable.text());
  EXPECT_EQ(ask(dialog).folder, from_variable.text());
}

TEST(WindowsFolderDialog, ASecondShowWhileOneWaitsIsCancelled) {
  TempFolder folder;
  AnswerVariable answer(folder.text());
  platform::EventLoop loop;
  platform::ShellFolderDialog dialog(loop);
  Outcome first;
  Outcome second;
  dialog.show("One", "", [&](std::optional<std::string> chosen) {
    first.given = true;
    first.folder = std::move(chosen);
  });
  dialog.show("Two", "", [&](std::optional<std::string> chosen) {
    second.given = true;
    second.folder = std::move(chosen);
  });
  ASSERT_TRUE(pump_until([&] { return first.given && second.given; }));
  EXPECT_EQ(first.folder, folder.text());
  EXPECT_FALSE(second.folder.has_value());
  // Once answered, the dialog shows again.
  EXPECT_EQ(ask(dialog).folder, folder.text());
}

}  // namespace
}  // namespace vintrel::windows_tests
