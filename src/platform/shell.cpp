#include "platform/shell.hpp"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "platform/platform.hpp"

extern char** environ;

namespace vintrel::platform {

void Platform::shell_open(const std::string& path) { open_with_default_program(path); }

void open_with_default_program(const std::string& path) {
  std::string program = "xdg-open";
  std::string argument = path;
  std::vector<char*> argv{program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return;
  // Nobody looks at the outcome, but the child must still be reaped; a
  // process-wide SIGCHLD setting would break the host's own waits.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace vintrel::platform
