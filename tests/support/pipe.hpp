#pragma once
// A pipe for tests that stand in for standard input: the test writes into one
// end and the code under test reads the other.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace vintrel::testing {

struct Pipe {
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    read_end = fds[0];
    write_end = fds[1];
  }
  ~Pipe() {
    close_read();
    close_write();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  void write(const std::string& text) {
    ASSERT_EQ(::write(write_end, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void close_read() {
    if (read_end >= 0) ::close(read_end);
    read_end = -1;
  }
  void close_write() {
    if (write_end >= 0) ::close(write_end);
    write_end = -1;
  }

  int read_end = -1;
  int write_end = -1;
};

}  // namespace vintrel::testing
