#include "apps/get_session.hpp"

#include <charconv>
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "apps/download_url.hpp"
#include "apps/report.hpp"
#include "control/user_control1.hpp"
#include "platform/console.hpp"
#include "platform/event_loop.hpp"
#include "platform/folder_dialogs.hpp"

namespace vintrel::apps {

namespace {

using automation::AutomationError;

// The control's numbers come as text; unreadable text counts as 0.
double number(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() ? value : 0;
}

std::string describe(const AutomationError& error) {
  return "error " + std::to_string(error.number()) + ": " + error.description();
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

class GetSession final : public platform::Container, public platform::PageObject {
 public:
  GetSession(const GetOptions& options, platform::EventLoop& loop, platform::Platform& machine, Report& report,
             std::unique_ptr<platform::FolderDialog> dialog, std::string preselect)
      : options_(options),
        loop_(loop),
        report_(report),
        dialog_(std::move(dialog)),
        preselect_(std::move(preselect)),
        machine_(machine),
        batches_(split_into_controls(options.files)),
        outcomes_(options.files.size(), Outcome::pending) {}

  int run() {
    const platform::InterruptHandler interrupts(loop_, [this](int signal) { interrupt(signal); });
    loop_.post([this] { start(); });
    loop_.run();
    return finish();
  }

  // ---- The control's events ---------------------------------------------
  void OnStatusChange(const std::string& Text) override {
    if (current_ < 1 || current_ > files()) {
      report_.queue_status(Text);
      return;
    }
    const int n = current_;
    // A socket error's number and text are stored only after its status is
    // raised, so failures are judged once the event is over; a failed
    // attempt is shown then too, with its number and reason.
    if (Text == "Waiting for a connection") {
      loop_.post([this, n] { attempt_failed(n); });
      return;
    }
    if (Text == control::UserControl1::already_complete_text) already_complete_ = true;
    report_.status(n, files(), Text);
    show_progress();
    if (Text == "File Not Found") {
      loop_.post([this, n] {
        if (!pending(n)) return;
        std::string why = last_error();
        // Said in the words of this program's own failures.
        if (why.starts_with("Gave up after ")) why[0] = 'g';
        fail(n, why);
      });
    }
  }

  void OnFileComplete(const std::string& Text) override {
    const int n = current_;
    show_progress();
    loop_.post([this, n, path = Text] {
      if (pending(n)) complete(n, path);
    });
  }

  void OnTransferComplete() override {
    ended_ = true;
    loop_.stop();
  }

  // ---- The page and its dialog ---------------------------------------------
  platform::PageObject* page() override { return this; }
  platform::FolderDialog* folder_dialog() override { return dialog_.get(); }
  std::string URL() override { return options_.referer; }
  std::string cookie() override { return options_.cookie; }

 private:
  enum class Outcome : std::uint8_t { pending, done, failed };

  int files() const { return static_cast<int>(options_.files.size()); }
  bool pending(int n) const { return !stopping() && n == current_ && outcomes_[index(n)] == Outcome::pending; }
  bool stopping() const { return interrupted_ != 0 || ended_ || fatal_; }
  static std::size_t index(int n) { return static_cast<std::size_t>(n - 1); }
  // File n of the run is file n - base_ of the current control.
  std::int16_t local(int n) const { return static_cast<std::int16_t>(n - base_); }
  queue::DownloadFile& record(int n) { return control_->DownloadFiles->Item(local(n)); }

  // A control call that fails ends the run: the queue's state is unknown.
  bool call(const std::function<void()>& fn) {
    try {
      fn();
      return true;
    } catch (const AutomationError& error) {
      report_.error(describe(error));
      fatal_ = true;
      loop_.stop();
      return false;
    }
  }

  std::string last_error() {
    const std::string number = control_->dErrorNumber();
    const std::string text = control_->dErrorDesc();
    return number == "0" ? text : text + " (error " + number + ")";
  }

  double size_on_disk(int n) {
    try {
      return record(n).FileSize();
    } catch (const AutomationError&) {
      return 0;
    }
  }

  void start() { begin_batch(0); }

  // A control takes at most 100 files and 100 server starts in its life:
  // a longer list goes through one control after another, numbered as one.
  void begin_batch(std::size_t b) {
    const int first = control_ ? base_ + static_cast<int>(batches_[batch_]) : 0;
    if (control_) {
      // Later controls save where the first was told to, without asking.
      dialog_ = std::make_unique<platform::FixedFolderDialog>(loop_, control_->sBuffer);
      preselect_ = control_->sBuffer;
    }
    batch_ = b;
    base_ = first;
    const int count = static_cast<int>(batches_[b]);
    current_ = 0;
    control_.reset();
    control_ = std::make_unique<control::UserControl1>(machine_, this);
    const bool started = call([&] {
      for (int n = first + 1; n <= first + count; ++n) control_->AddFile(options_.files[index(n)].url);
      // The control gives a file up after this many fruitless attempts.
      control_->maxTries = static_cast<std::int16_t>(options_.tries);
      control_->Timer1->set_interval(options_.tick_interval);
      control_->set_eager_ticks(options_.eager);
      control_->set_adopt_foreign_parts(options_.continue_foreign);
      control_->SetDLText(options_.title);
      control_->SetDirectory(preselect_);
      // Asks for the folder with the loop running, then starts file 1.
      control_->StartQueue();
    });
    if (!started || interrupted_) return;
    if (control_->DownloadFiles->Count() < count) {
      report_.error("no folder was chosen; nothing was downloaded");
      fatal_ = true;
      loop_.stop();
      return;
    }
    // The run's time is the downloads', not the folder dialog's.
    if (b == 0) stopwatch_.restart();
    begin_file(first + 1);
  }

  void begin_file(int n) {
    current_ = n;
    began_ = true;
    already_complete_ = false;
    last_size_ = size_on_disk(n);
    file_clock_.restart();
    report_.file_started(n, files(), options_.files[index(n)].url);
    const auto& mirrors = options_.files[index(n)].mirrors;
    call([&] {
      // Set before the file's first tick, so its bytes are hashed as they come.
      record(n).checksum = options_.files[index(n)].checksum;
      // Records exist only once the queue has started, and the start ran
      // file 1 with its single server: its mirrors join it now and it is
      // started again, so that it is probed on all of them.
      for (const auto& mirror : mirrors) {
        std::string why;
        const auto parts = parse_download_url(mirror, why);
        if (!parts) continue;  // checked with the command line
        auto server = std::make_shared<queue::remoteServerLoc>();
        server->servName = parts->server;
        server->host = parts->host;
        server->PortNum = parts->port;
        server->remoteFilePath = parts->path;
        server->isSecure = parts->secure;
        record(n).remoteServerLocs->Add(server);
      }
      if (local(n) > 1 || !mirrors.empty()) control_->GotoFile(local(n));
    });
  }

  // Another attempt follows: the control counts them and gives the file up
  // itself ("File Not Found") once --tries in a row brought nothing.
  void attempt_failed(int n) {
    if (!pending(n)) return;
    const double size = size_on_disk(n);
    if (size > last_size_) {
      // The attempt brought bytes: the server works, only the connection
      // broke. The control counts afresh from here.
      last_size_ = size;
      report_.status(n, files(), "Waiting for a connection: " + last_error());
      return;
    }
    report_.retrying(n, files(), control_->failed_attempts(local(n)), options_.tries, last_error());
  }

  void complete(int n, const std::string& path) {
    outcomes_[index(n)] = Outcome::done;
    const double fetched = count_received(n);
    if (already_complete_)
      report_.file_already_complete(n, files(), path, size_on_disk(n));
    else
      report_.file_done(n, files(), path, size_on_disk(n), fetched, file_clock_.seconds());
    next();
  }

  void fail(int n, const std::string& why) {
    outcomes_[index(n)] = Outcome::failed;
    count_received(n);
    report_.file_failed(n, files(), why);
    next();
  }

  // The bytes file n fetched in this run, added to the run's count.
  double count_received(int n) {
    const queue::DownloadFile& F = record(n);
    // What is on disk from before this transfer is not counted again.
    const double fetched = F.downloadedbytes > F.bytesondisk ? F.downloadedbytes - F.bytesondisk : 0;
    received_ += fetched;
    return fetched;
  }

  void next() {
    if (current_ < base_ + static_cast<int>(batches_[batch_])) {
      begin_file(current_ + 1);
      return;
    }
    if (batch_ + 1 < batches_.size()) {
      // Not from inside a control's call: the control is replaced.
      loop_.post([this] {
        if (!stopping()) begin_batch(batch_ + 1);
      });
      return;
    }
    current_ = files() + 1;
    // As a page does: moving past the last file ends the queue.
    call([this] { control_->GotoFile(static_cast<std::int16_t>(control_->dTotalFiles() + 1)); });
  }

  void show_progress() {
    if (report_.mode() != OutputMode::terminal) return;
    try {
      Progress p;
      p.file = base_ + std::stoi(control_->dCurrentFile());
      p.files = files();
      p.name = base_name(control_->dCurrentFileName());
      p.done = number(control_->dBytesTransferred());
      p.size = number(control_->dBytesTotal());
      p.percent = number(control_->dPercentComplete());
      p.rate = number(control_->dRate());
      p.remaining = number(control_->dRemainingTime());
      report_.progress(p);
    } catch (const AutomationError&) {
      // No current record yet: nothing to draw.
    } catch (const std::logic_error&) {
    }
  }

  void interrupt(int signal) {
    if (interrupted_ != 0) return;
    interrupted_ = signal;
    const int n = current_;
    if (n >= 1 && n <= files() && outcomes_[index(n)] == Outcome::pending) {
      // Closing the transfer keeps the part on disk; the next run with the
      // same folder resumes it.
      try {
        control_->CancelQueue();
      } catch (const AutomationError&) {
      }
      count_received(n);
      const double size = size_on_disk(n);
      if (size > 0)
        report_.error("interrupted; partial file kept for the next run: " + record(n).localfilename + " (" +
                      format_bytes(size) + ")");
      else
        report_.error("interrupted");
    } else {
      report_.error("interrupted");
    }
    loop_.stop();
  }

  int finish() {
    Summary summary;
    for (const Outcome outcome : outcomes_) {
      if (outcome == Outcome::done) ++summary.done;
      if (outcome == Outcome::failed) ++summary.failed;
      if (outcome == Outcome::pending) ++summary.unfinished;
    }
    summary.received = received_;
    summary.seconds = stopwatch_.seconds();
    if (began_ || interrupted_ != 0) report_.summary(summary);
    if (interrupted_ != 0) return 128 + interrupted_;
    if (fatal_ || summary.failed > 0 || summary.unfinished > 0) return 1;
    return 0;
  }

  const GetOptions& options_;
  platform::EventLoop& loop_;
  Report& report_;
  std::unique_ptr<platform::FolderDialog> dialog_;
  std::string preselect_;
  platform::Platform& machine_;
  std::vector<std::size_t> batches_;  // files per control, in order
  std::size_t batch_ = 0;
  int base_ = 0;  // files of the run before the current control's
  std::unique_ptr<control::UserControl1> control_;

  std::vector<Outcome> outcomes_;
  int current_ = 0;                 // the file being fetched; files() + 1 once all are done
  platform::Stopwatch file_clock_;  // since the current file began
  bool already_complete_ = false;   // the current file was found whole on disk
  double last_size_ = 0;
  double received_ = 0;
  platform::Stopwatch stopwatch_;
  int interrupted_ = 0;  // the signal that ended the run
  bool began_ = false;   // a file was started
  bool ended_ = false;
  bool fatal_ = false;
};

}  // namespace

int run_get_session(const GetOptions& options, platform::EventLoop& loop, platform::Platform& machine, Report& report,
                    std::unique_ptr<platform::FolderDialog> dialog, std::string preselect) {
  GetSession session(options, loop, machine, report, std::move(dialog), std::move(preselect));
  return session.run();
}

}  // namespace vintrel::apps
