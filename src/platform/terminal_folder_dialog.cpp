// The folder prompt on a terminal: lines read through the loop from our own
// duplicate of the input, prompts written straight to the output.

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>

#include "platform/event_loop.hpp"
#include "platform/file_system.hpp"
#include "platform/folder_dialog_parts.hpp"
#include "platform/folder_dialogs.hpp"
#include "platform/input_reader.hpp"
#include "text/text.hpp"

namespace vintrel::platform {

namespace {

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

std::string expand_home(const std::string& text) {
  if (text != "~" && text.rfind("~/", 0) != 0) return text;
  const char* home = std::getenv("HOME");
  if (!home || !*home) return text;
  return std::string(home) + text.substr(1);
}

}  // namespace

struct TerminalFolderDialog::Impl : std::enable_shared_from_this<TerminalFolderDialog::Impl> {
  Impl(EventLoop& event_loop, int input_fd, int output)
      : loop(event_loop), input(event_loop, input_fd), output_fd(output) {}

  EventLoop& loop;
  InputReader input;
  int output_fd;
  // Bytes read but not yet taken: the rest of a line, or lines typed ahead
  // of the next show.
  std::string buffered;
  bool pending = false;
  std::string preselect;
  Answer answer;

  void prompt() {
    write_all(output_fd, preselect.empty() ? "Download folder: " : "Download folder [" + preselect + "]: ");
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
    // A line typed on a terminal may end in a carriage return too.
    std::string typed(text::trim(raw, " \t\r"));
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
    std::weak_ptr<Impl> weak = weak_from_this();
    input.wait([weak](bool ended) {
      auto self = weak.lock();
      if (!self || !self->pending) return;
      if (ended) {
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
    while (pending) {
      switch (input.read(buffered, 4096)) {
        case InputReader::Read::data:
          take_buffered_lines();
          break;
        case InputReader::Read::later:
          wait_for_input();
          return;
        case InputReader::Read::ended:
          end_of_input();
          break;
      }
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
    : impl_(std::make_shared<Impl>(loop, input_fd, output_fd)) {}

// A show still waiting is dropped unanswered: its answer may reach into
// objects going away with this dialog.
TerminalFolderDialog::~TerminalFolderDialog() = default;

void TerminalFolderDialog::show(const std::string& title, const std::string& preselect, Answer answer) {
  Impl& impl = *impl_;
  if (impl.pending || !impl.input.usable()) {
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

}  // namespace vintrel::platform
