#include "platform/folder_dialogs.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/asio.hpp"
#include "platform/event_loop.hpp"
#include "platform/file_system.hpp"

extern char** environ;

namespace vintrel::platform {

namespace asio = boost::asio;

namespace {

void cancel_later(EventLoop& loop, FolderDialog::Answer answer) {
  loop.post([answer = std::move(answer)] {
    if (answer) answer(std::nullopt);
  });
}

// Prompts are a few bytes, written straight away: going through the loop
// would mean a non-blocking descriptor, and O_NONBLOCK on a duplicate of the
// terminal would reach everything else the program prints there.
void write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a prompt nobody can see does not stop the answer
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string expand_home(const std::string& text) {
  if (text != "~" && text.rfind("~/", 0) != 0) return text;
  const char* home = std::getenv("HOME");
  if (!home || !*home) return text;
  return std::string(home) + text.substr(1);
}

// Lexical, as a shell's cd is: "link/.." goes back to where the user was,
// not to the parent of the link's target.
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

// A child we no longer wait for on the loop must still be reaped; a
// process-wide SIGCHLD setting would break the host's own waits.
void reap_in_background(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace

// ---------------------------------------------------------------------------
// Terminal

struct TerminalFolderDialog::Impl : std::enable_shared_from_this<TerminalFolderDialog::Impl> {
  Impl(EventLoop& event_loop, int output) : loop(event_loop), input(asio_context(event_loop)), output_fd(output) {}

  EventLoop& loop;
  asio::posix::stream_descriptor input;
  int output_fd;
  bool usable = false;
  bool waiting = false;
  // Bytes read but not yet taken: the rest of a line, or lines typed ahead
  // of the next show.
  std::string buffered;
  bool pending = false;
  std::string preselect;
  Answer answer;

  void prompt() {
    write_all(output_fd, preselect.empty() ? "Download folder: "
                                           : "Download folder [" + preselect + "]: ");
  }

  void finish(std::optional<std::string> folder) {
    pending = false;
    Answer done = std::move(answer);
    answer = nullptr;
    preselect.clear();
    // Last: the answer may show the dialog again, or destroy it.
    if (done) done(std::move(folder));
  }

  void take_line(const std::string& raw) {
    std::string typed = trim(raw);
    if (typed.empty()) {
      if (preselect.empty()) {
        prompt();
        return;
      }
      typed = preselect;
    }
    const std::string folder = absolute_folder(expand_home(typed));
    if (folder_exists(folder)) {
      finish(folder);
      return;
    }
    write_all(output_fd, "No such folder: " + typed + "\n");
    prompt();
  }

  void take_buffered_lines() {
    std::size_t end;
    while (pending && (end = buffered.find('\n')) != std::string::npos) {
      const std::string line = buffered.substr(0, end);
      buffered.erase(0, end + 1);
      take_line(line);
    }
  }

  void wait_for_input() {
    if (waiting) return;
    waiting = true;
    std::weak_ptr<Impl> weak = weak_from_this();
    input.async_wait(asio::posix::descriptor_base::wait_read, [weak](const boost::system::error_code& error) {
      auto self = weak.lock();
      if (!self) return;
      self->waiting = false;
      if (!self->pending || error == asio::error::operation_aborted) return;
      // epoll cannot watch a regular file, but reading one never blocks.
      if (error && error != asio::error::operation_not_supported) {
        self->end_of_input();
        return;
      }
      self->pump();
    });
  }

  // Reads until the answer is found or nothing more is there, then waits:
  // lines typed ahead of a show answer it without a trip through the
  // reactor, and a burst longer than one read is worked through at once.
  void pump() {
    take_buffered_lines();
    std::array<char, 4096> chunk{};
    const int fd = input.native_handle();
    while (pending) {
      const int flags = ::fcntl(fd, F_GETFL);
      // Non-blocking only for this read: the open file is shared with the
      // owner's descriptor (the terminal, usually).
      if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
      const ssize_t n = ::read(fd, chunk.data(), chunk.size());
      const int read_error = errno;
      if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags);
      if (n > 0) {
        buffered.append(chunk.data(), static_cast<std::size_t>(n));
        take_buffered_lines();
        continue;
      }
      if (n < 0 && read_error == EINTR) continue;
      if (n < 0 && (read_error == EAGAIN || read_error == EWOULDBLOCK)) {
        wait_for_input();
        return;
      }
      end_of_input();
    }
  }

  void end_of_input() {
    // A last line without its newline still counts.
    if (!buffered.empty()) {
      const std::string line = std::move(buffered);
      buffered.clear();
      take_line(line);
      if (!pending) return;
    }
    write_all(output_fd, "\n");  // the cursor still sits after the prompt
    finish(std::nullopt);
  }
};

TerminalFolderDialog::TerminalFolderDialog(EventLoop& loop, int input_fd, int output_fd)
    : impl_(std::make_shared<Impl>(loop, output_fd)) {
  // Our own duplicate, closed with us: the owner's descriptor (standard
  // input, usually) stays open.
  const int own = ::fcntl(input_fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return;
  boost::system::error_code error;
  impl_->input.assign(own, error);
  if (error) {
    ::close(own);
    return;
  }
  // Asio switches a descriptor to non-blocking before its first wait, and
  // that flag belongs to the open file, shared with the owner: standard
  // input left non-blocking breaks the host's own reads, and the shell's
  // after we exit. Asio is told the switch is made, then it is undone; our
  // reads go non-blocking one at a time instead.
  const int flags = ::fcntl(own, F_GETFL);
  impl_->input.native_non_blocking(true, error);
  if (flags >= 0) ::fcntl(own, F_SETFL, flags);
  if (error) return;
  impl_->usable = true;
}

// A show still waiting is dropped unanswered: its answer may reach into
// objects going away with this dialog.
TerminalFolderDialog::~TerminalFolderDialog() = default;

void TerminalFolderDialog::show(const std::string& title, const std::string& preselect, Answer answer) {
  Impl& impl = *impl_;
  if (impl.pending || !impl.usable) {
    cancel_later(impl.loop, std::move(answer));
    return;
  }
  impl.pending = true;
  impl.answer = std::move(answer);
  impl.preselect = preselect;
  if (!title.empty()) write_all(impl.output_fd, title + "\n");
  impl.prompt();
  // Lines typed ahead may answer at once, but never inside show().
  std::weak_ptr<Impl> weak = impl_;
  impl.loop.post([weak] {
    auto self = weak.lock();
    if (self && self->pending) self->pump();
  });
}

// ---------------------------------------------------------------------------
// Desktop

namespace {

// The chooser should be gone well before this; a program that closed its
// output but lingers is not waited for any longer.
constexpr auto reap_interval = std::chrono::milliseconds(10);
constexpr int reap_attempts = 500;
// A folder path is short; anything beyond this is not one.
constexpr std::size_t output_limit = 64 * 1024;

}  // namespace

struct DesktopFolderDialog::Impl : std::enable_shared_from_this<DesktopFolderDialog::Impl> {
  Impl(EventLoop& event_loop, std::string program_name)
      : loop(event_loop),
        program(std::move(program_name)),
        output(asio_context(event_loop)),
        reap_timer(asio_context(event_loop)) {}

  ~Impl() {
    if (child > 0) {
      ::kill(child, SIGTERM);
      reap_in_background(child);
    }
  }

  EventLoop& loop;
  std::string program;
  asio::posix::stream_descriptor output;
  asio::steady_timer reap_timer;
  std::array<char, 4096> chunk{};
  std::string printed;
  pid_t child = -1;
  int reap_tries = 0;
  bool pending = false;
  Answer answer;

  void finish(std::optional<std::string> folder) {
    pending = false;
    Answer done = std::move(answer);
    answer = nullptr;
    if (done) done(std::move(folder));
  }

  bool start(const std::string& title, const std::string& preselect) {
    std::vector<std::string> arguments{program, "--file-selection", "--directory"};
    if (!title.empty()) arguments.push_back("--title=" + title);
    if (!preselect.empty()) {
      // The trailing slash makes the chooser open the folder itself rather
      // than its parent with the folder selected.
      arguments.push_back("--filename=" + preselect + (preselect.back() == '/' ? "" : "/"));
    }
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its input is not the user's terminal (the terminal prompt may want
    // it), and its toolkit chatter stays out of the host's output.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (spawned != 0) {
      ::close(pipe_fds[0]);
      return false;
    }
    child = pid;
    boost::system::error_code error;
    output.assign(pipe_fds[0], error);
    if (error) {
      ::close(pipe_fds[0]);
      ::kill(child, SIGTERM);
      reap_in_background(child);
      child = -1;
      return false;
    }
    printed.clear();
    reap_tries = 0;
    return true;
  }

  void read_output() {
    std::weak_ptr<Impl> weak = weak_from_this();
    output.async_read_some(asio::buffer(chunk), [weak](const boost::system::error_code& error, std::size_t n) {
      auto self = weak.lock();
      if (!self) return;
      if (self->printed.size() < output_limit) {
        self->printed.append(self->chunk.data(), std::min(n, output_limit - self->printed.size()));
      }
      if (!error) {
        self->read_output();
        return;
      }
      // End of output (or a broken pipe): the program is done or about to be.
      boost::system::error_code ignored;
      self->output.close(ignored);
      self->reap();
    });
  }

  void reap() {
    int status = 0;
    pid_t reaped;
    do {
      reaped = ::waitpid(child, &status, WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == child) {
      child = -1;
      conclude(status);
      return;
    }
    if (reaped < 0) {  // someone else reaped it: no exit status, no answer
      child = -1;
      finish(std::nullopt);
      return;
    }
    if (++reap_tries >= reap_attempts) {
      ::kill(child, SIGTERM);
      reap_in_background(child);
      child = -1;
      finish(std::nullopt);
      return;
    }
    std::weak_ptr<Impl> weak = weak_from_this();
    reap_timer.expires_after(reap_interval);
    reap_timer.async_wait([weak](const boost::system::error_code& error) {
      auto self = weak.lock();
      if (!self || error) return;
      self->reap();
    });
  }

  void conclude(int status) {
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      finish(std::nullopt);
      return;
    }
    std::string line = printed.substr(0, printed.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      finish(std::nullopt);
      return;
    }
    const std::string folder = absolute_folder(line);
    if (!folder_exists(folder)) {
      finish(std::nullopt);
      return;
    }
    finish(folder);
  }
};

DesktopFolderDialog::DesktopFolderDialog(EventLoop& loop, std::string program)
    : impl_(std::make_shared<Impl>(loop, std::move(program))) {}

// A chooser still open is closed, and its answer dropped, as with the
// terminal prompt.
DesktopFolderDialog::~DesktopFolderDialog() = default;

void DesktopFolderDialog::show(const std::string& title, const std::string& preselect, Answer answer) {
  Impl& impl = *impl_;
  if (impl.pending || !impl.start(title, preselect)) {
    cancel_later(impl.loop, std::move(answer));
    return;
  }
  impl.pending = true;
  impl.answer = std::move(answer);
  impl.read_output();
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
    std::string folder = path.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (folder.empty()) folder = ".";  // an empty entry is the current folder
    if (executable(folder + "/" + name)) return true;
    if (end == std::string::npos) return false;
    begin = end + 1;
  }
}

}  // namespace vintrel::platform
