// The desktop's folder chooser: zenity (or a program that takes its
// arguments) run without a shell, its output read through the loop and the
// child reaped without a process-wide SIGCHLD setting.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/asio.hpp"
#include "platform/event_loop.hpp"
#include "platform/file_system.hpp"
#include "platform/folder_dialog_parts.hpp"
#include "platform/folder_dialogs.hpp"

extern char** environ;

namespace vintrel::platform {

namespace asio = boost::asio;

namespace {

// A child we no longer wait for on the loop must still be reaped; a
// process-wide SIGCHLD setting would break the host's own waits.
void reap_in_background(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// The chooser should be gone well before this; a program that closed its
// output but lingers is not waited for any longer.
constexpr auto reap_interval = std::chrono::milliseconds(10);
constexpr int reap_attempts = 500;
// A folder path is short; anything beyond this is not one.
constexpr std::size_t output_limit = std::size_t{64} * 1024;

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
    argv.reserve(arguments.size() + 1);
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

}  // namespace vintrel::platform
