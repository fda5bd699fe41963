#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "support/spawn_signals.hpp"

extern char** environ;

namespace vintrel::testing {

namespace {

using Clock = std::chrono::steady_clock;

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The test's environment without a display, and without proxies: a test
// run behind a proxy must not send the tests' loopback downloads through it.
// `extra` entries ("NAME=value") are added.
std::vector<std::string> child_environment(const std::vector<std::string>& extra) {
  static constexpr std::string_view left_out[] = {
      "DISPLAY=", "WAYLAND_DISPLAY=", "http_proxy=", "https_proxy=", "HTTPS_PROXY=", "no_proxy=", "NO_PROXY="};
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (std::any_of(std::begin(left_out), std::end(left_out),
                    [&](std::string_view name) { return text.starts_with(name); })) {
      continue;
    }
    result.push_back(text);
  }
  result.insert(result.end(), extra.begin(), extra.end());
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (auto& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> arguments, Options options) {
  int err_pipe[2];
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) fail("pipe");
  int child_out = -1;
  if (options.terminal) {
    out_fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (out_fd_ < 0 || ::grantpt(out_fd_) != 0 || ::unlockpt(out_fd_) != 0) fail("posix_openpt");
    child_out = ::open(::ptsname(out_fd_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (child_out < 0) fail("open pty");
    struct winsize size {};
    size.ws_col = static_cast<unsigned short>(options.columns);
    size.ws_row = 30;
    ::ioctl(child_out, TIOCSWINSZ, &size);
    // Bytes as the program wrote them: no "\n" turned into "\r\n".
    struct termios modes {};
    ::tcgetattr(child_out, &modes);
    modes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    ::tcsetattr(child_out, TCSANOW, &modes);
  } else {
    int out_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) fail("pipe");
    out_fd_ = out_pipe[0];
    child_out = out_pipe[1];
  }
  err_fd_ = err_pipe[0];
  int child_in = -1;
  if (options.input_pipe) {
    int in_pipe[2];
    if (::pipe2(in_pipe, O_CLOEXEC) != 0) fail("pipe");
    child_in = in_pipe[0];
    in_fd_ = in_pipe[1];
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (child_in >= 0)
    posix_spawn_file_actions_adddup2(&actions, child_in, 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, child_out, 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  if (!options.working_directory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());
  // The test runner may ignore or block signals; the child starts clean.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  start_with_default_signals(attributes);

  std::vector<std::string> environment = child_environment(options.environment);
  auto argv = pointers(arguments);
  auto envp = pointers(environment);
  const int error = ::posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(child_out);
  ::close(err_pipe[1]);
  if (child_in >= 0) ::close(child_in);
  if (error != 0) {
    errno = error;
    pid_ = -1;
    fail("posix_spawn " + arguments.at(0));
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exited_) {
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  close_fd(out_fd_);
  close_fd(err_fd_);
  close_fd(in_fd_);
}

void ChildProcess::write_input(const std::string& text) {
  std::size_t done = 0;
  while (in_fd_ >= 0 && done < text.size()) {
    const ssize_t n = ::write(in_fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("write to the child");
    done += static_cast<std::size_t>(n);
  }
}

void ChildProcess::close_input() { close_fd(in_fd_); }

void ChildProcess::pump(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (out_fd_ < 0 && err_fd_ < 0) {
    std::this_thread::sleep_for(std::min(timeout, std::chrono::milliseconds(10)));
    return;
  }
  if (::poll(fds, 2, static_cast<int>(timeout.count())) <= 0) return;
  const auto drain = [](pollfd& entry, int& fd, std::string& into) {
    if (fd < 0 || entry.revents == 0) return;
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    // End of a pipe, or EIO from a terminal whose last writer is gone.
    if (n <= 0) {
      if (n < 0 && errno == EINTR) return;
      close_fd(fd);
      return;
    }
    into.append(buffer, static_cast<std::size_t>(n));
  };
  drain(fds[0], out_fd_, out_);
  drain(fds[1], err_fd_, err_);
}

bool ChildProcess::reap(bool block) {
  if (exited_) return true;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
  if (done != pid_) return false;
  exited_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

bool ChildProcess::wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pump(std::min(left, std::chrono::milliseconds(20)));
  }
  return true;
}

void ChildProcess::send_signal(int signal) {
  if (pid_ > 0 && !exited_) ::kill(pid_, signal);
}

int ChildProcess::wait_for_exit(std::chrono::milliseconds timeout) {
  // A pseudo-terminal may stay readable forever in theory; a pipe ends when
  // the child (and anything it started) has closed it.
  const bool ended = wait_until(
      [this] {
        if (!exited_) reap(false);
        return exited_ && out_fd_ < 0 && err_fd_ < 0;
      },
      timeout);
  if (!ended) {
    if (!exited_) {
      ::kill(pid_, SIGKILL);
      reap(true);
      return -1;
    }
    // Exited but something still holds the output open: take what is there.
  }
  return status_;
}

ProgramRun run_program(std::vector<std::string> arguments, ChildProcess::Options options,
                       std::chrono::milliseconds timeout) {
  ChildProcess child(std::move(arguments), std::move(options));
  ProgramRun run;
  run.status = child.wait_for_exit(timeout);
  run.out = child.out();
  run.err = child.err();
  return run;
}

}  // namespace vintrel::testing
