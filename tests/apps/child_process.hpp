#pragma once
// Runs a program as a child process the way a user's shell would, with its
// standard output on a pipe or on a pseudo-terminal and its standard error on
// a pipe, and reads both while it runs. Every wait is bounded: a child that
// does not end in time is killed and the test fails instead of hanging.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vintrel::testing {

class ChildProcess {
 public:
  struct Options {
    /// Standard output on a pseudo-terminal of this many columns, instead of
    /// a pipe.
    bool terminal = false;
    int columns = 100;
    /// Working folder of the child; the test's own when empty.
    std::string working_directory;
    /// Standard input on a pipe the test writes with write_input, instead
    /// of /dev/null.
    bool input_pipe = false;
    /// Added to the environment, "NAME=value" each.
    std::vector<std::string> environment;
  };

  /// Starts `arguments[0]` with the other arguments. Standard input is
  /// /dev/null, and the desktop's display is removed from the environment,
  /// so the program never waits for a person; so are the proxy variables,
  /// so that a test only goes through the proxy it sets.
  explicit ChildProcess(std::vector<std::string> arguments, Options options);
  explicit ChildProcess(std::vector<std::string> arguments) : ChildProcess(std::move(arguments), Options{}) {}
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// Reads output until `done` is true or `timeout` passes; returns `done`.
  bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  void send_signal(int signal);
  /// Writes to the child's standard input (Options::input_pipe).
  void write_input(const std::string& text);
  /// Closes the child's standard input: it reads end of input.
  void close_input();
  /// Reads the rest of the output and waits for the exit; kills the child
  /// when it has not exited within `timeout`. Returns the exit status, or
  /// -1 when it had to be killed or died of a signal.
  int wait_for_exit(std::chrono::milliseconds timeout);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  void pump(std::chrono::milliseconds timeout);
  bool reap(bool block);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  int in_fd_ = -1;
  int status_ = -1;
  bool exited_ = false;
  std::string out_;
  std::string err_;
};

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

/// Runs a program to its end (at most `timeout`).
ProgramRun run_program(std::vector<std::string> arguments, ChildProcess::Options options = {},
                       std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace vintrel::testing
