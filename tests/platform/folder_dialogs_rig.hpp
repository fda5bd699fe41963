#pragma once
// What the folder dialog tests share: pipes for a terminal, a recorder of
// the answer, environment variables set for one test, and the terminal
// prompt on its own pipes.

#include "platform/folder_dialogs.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/event_loop.hpp"
#include "support/pipe.hpp"
#include "support/temp_folder.hpp"

namespace vintrel::platform::folder_dialogs_rig {

using namespace std::chrono_literals;
using vintrel::testing::TempFolder;

constexpr auto generous = 10s;

using vintrel::testing::Pipe;

struct Recorded {
  bool given = false;
  std::optional<std::string> folder;

  FolderDialog::Answer callback() {
    return [this](std::optional<std::string> answer) {
      given = true;
      folder = std::move(answer);
    };
  }
};

// Sets an environment variable for the length of a test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// ---------------------------------------------------------------------------
// Terminal prompt

class TerminalFolderDialogTest : public ::testing::Test {
 protected:
  TerminalFolderDialogTest() {
    ::fcntl(output.read_end, F_SETFL, ::fcntl(output.read_end, F_GETFL) | O_NONBLOCK);
    std::filesystem::create_directory(temp.path() / "sub");
  }

  void type(const std::string& text) {
    ASSERT_EQ(::write(input.write_end, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Everything the dialog wrote so far.
  const std::string& shown() {
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(output.read_end, chunk, sizeof chunk)) > 0) written.append(chunk, static_cast<std::size_t>(n));
    return written;
  }

  bool answered() {
    return loop.run_until([&] { return recorded.given; }, generous);
  }

  std::string sub() const { return temp.file("sub"); }

  TempFolder temp;
  EventLoop loop;
  Pipe input;
  Pipe output;
  TerminalFolderDialog dialog{loop, input.read_end, output.write_end};
  Recorded recorded;
  std::string written;
};

}  // namespace vintrel::platform::folder_dialogs_rig
