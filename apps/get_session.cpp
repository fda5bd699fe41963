#include "apps/get_session.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <deque>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
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

class GetSession;

// The folder the first control was given: later controls save there,
// answered at once, so that no control waits on a dialog inside another's.
class KnownFolder final : public platform::FolderDialog {
 public:
  explicit KnownFolder(std::string folder) : folder_(std::move(folder)) {}
  void show(const std::string&, const std::string&, Answer answer) override { answer(folder_); }

 private:
  std::string folder_;
};

// One control at a time, fetching the batches of files the session hands
// it: the whole run through one control after another with -j 1, one file
// per control beside the other lanes otherwise.
class Lane final : public platform::Container, public platform::PageObject {
 public:
  Lane(GetSession& session, std::unique_ptr<platform::FolderDialog> dialog, std::string preselect)
      : s_(session), dialog_(std::move(dialog)), preselect_(std::move(preselect)) {}

  /// Starts batch `b` in a new control; false when the run cannot go on.
  bool begin_batch(std::size_t b);
  /// True while a file of this lane is under way.
  bool busy() const;
  /// The run has been interrupted: the current file's transfer is closed
  /// and its part kept. True when a part was reported.
  bool interrupt();
  /// Moves the last control past its last file, as a page ends its queue.
  void end_queue();
  control::UserControl1* control() const { return control_.get(); }

  // ---- The control's events ---------------------------------------------
  void OnStatusChange(const std::string& Text) override;
  void OnFileComplete(const std::string& Text) override;
  void OnTransferComplete() override;

  // ---- The page and its dialog ---------------------------------------------
  platform::PageObject* page() override { return this; }
  platform::FolderDialog* folder_dialog() override { return dialog_.get(); }
  std::string URL() override;
  std::string cookie() override;

 private:
  bool pending(int n) const;
  // File n of the run is file n - base_ of the current control.
  std::int16_t local(int n) const { return static_cast<std::int16_t>(n - base_); }
  queue::DownloadFile& record(int n) { return control_->DownloadFiles->Item(local(n)); }
  bool call(const std::function<void()>& fn);
  std::string last_error();
  double size_on_disk(int n);
  void begin_file(int n);
  void attempt_failed(int n);
  void complete(int n, const std::string& path);
  void fail(int n, const std::string& why);
  double count_received(int n);
  void next();
  void show_progress();

  GetSession& s_;
  std::unique_ptr<platform::FolderDialog> dialog_;
  std::string preselect_;
  std::unique_ptr<control::UserControl1> control_;
  std::size_t batch_ = 0;
  int base_ = 0;                    // files of the run before the current control's
  int current_ = 0;                 // the file being fetched; 0 between files
  int last_ = 0;                    // the current control's last file
  platform::Stopwatch file_clock_;  // since the current file began
  bool already_complete_ = false;   // the current file was found whole on disk
  double last_size_ = 0;
};

class GetSession {
 public:
  GetSession(const GetOptions& options, platform::EventLoop& loop, platform::Platform& machine, Report& report,
             std::unique_ptr<platform::FolderDialog> dialog, std::string preselect)
      : options_(options),
        loop_(loop),
        report_(report),
        machine_(machine),
        outcomes_(options.files.size(), Outcome::pending) {
    // A control takes at most 100 files and 100 server starts in its life,
    // so with one lane a longer list goes through one control after
    // another; lanes side by side take a file (and a control) at a time,
    // so that none waits behind another's long file.
    const auto jobs = static_cast<std::size_t>(std::max(1, options.jobs));
    if (jobs == 1) {
      std::size_t first = 0;
      for (const std::size_t count : split_into_controls(options.files)) {
        batches_.push_back({first, count});
        first += count;
      }
    } else {
      for (std::size_t n = 0; n < options.files.size(); ++n) batches_.push_back({n, 1});
    }
    lanes_.push_back(std::make_unique<Lane>(*this, std::move(dialog), std::move(preselect)));
    for (std::size_t k = 1; k < std::min(jobs, batches_.size()); ++k) lanes_.push_back(nullptr);
  }

  int run() {
    const platform::InterruptHandler interrupts(loop_, [this](int signal) { interrupt(signal); });
    loop_.post([this] { start(); });
    loop_.run();
    return finish();
  }

  enum class Outcome : std::uint8_t { pending, done, failed };
  struct Batch {
    std::size_t first = 0;  // index of its first file in the run
    std::size_t count = 0;
  };

  const GetOptions& options() const { return options_; }
  platform::EventLoop& loop() { return loop_; }
  Report& report() { return report_; }
  platform::Platform& machine() { return machine_; }
  const Batch& batch(std::size_t b) const { return batches_[b]; }
  int files() const { return static_cast<int>(options_.files.size()); }
  static std::size_t index(int n) { return static_cast<std::size_t>(n - 1); }
  Outcome& outcome(int n) { return outcomes_[index(n)]; }
  Outcome outcome(int n) const { return outcomes_[index(n)]; }
  bool stopping() const { return interrupted_ != 0 || ended_ || fatal_; }
  void add_received(double bytes) { received_ += bytes; }

  /// A control call failed: the queue's state is unknown, the run ends.
  void fatal(const std::string& why) {
    report_.error(why);
    fatal_ = true;
    loop_.stop();
  }
  void began() { began_ = true; }
  void ended() {
    ended_ = true;
    loop_.stop();
  }

  /// The current file of `lane` has had its first answer: its servers have
  /// handed out their sessions.
  void answered(const Lane& lane) {
    bool news = false;
    for (const auto& endpoint : held_[lane_index(lane)]) news = warm_.insert(endpoint).second || news;
    if (news) loop_.post([this] { dispatch(); });
  }

  /// A lane is done with its batch: it takes the next one, or waits, and
  /// the last lane to finish ends the queue.
  void lane_free(Lane& lane) {
    release(lane);
    // Not from inside a control's call: the lane's control is replaced.
    loop_.post([this] { dispatch(); });
  }

 private:
  void start() {
    // The first control asks for the folder; the others save there without
    // asking, once it is known.
    const std::size_t b = next_batch_++;
    take(0, b);
    if (!lanes_[0]->begin_batch(b) || stopping()) return;
    stopwatch_.restart();
    folder_ = lanes_[0]->control()->sBuffer;
    dispatch();
  }

  // Hands the next batches to the free lanes, in the list's order, while no
  // host would get more than its share of connections.
  void dispatch() {
    if (stopping()) return;
    for (std::size_t k = 0; k < lanes_.size() && next_batch_ < batches_.size(); ++k) {
      if (lanes_[k] && lanes_[k]->busy()) continue;
      if (!room_for(next_batch_)) break;
      if (!lanes_[k]) lanes_[k] = std::make_unique<Lane>(*this, std::make_unique<KnownFolder>(folder_), folder_);
      const std::size_t b = next_batch_++;
      take(k, b);
      if (!lanes_[k]->begin_batch(b) || stopping()) return;
    }
    share_rate();
    open_spares();
    if (next_batch_ < batches_.size()) return;
    for (const auto& lane : lanes_)
      if (lane && lane->busy()) return;
    // Every file is done: as a page does, moving past the last file of the
    // last control ends the queue.
    Lane* last = lane_of_last_batch_ < lanes_.size() ? lanes_[lane_of_last_batch_].get() : nullptr;
    if (last != nullptr && last->control() != nullptr) last->end_queue();
  }

  // The run's cap is shared equally by the lanes with a file under way, so
  // the last file alone has all of it.
  void share_rate() {
    if (options_.max_rate == 0) return;
    std::vector<control::UserControl1*> running;
    for (const auto& lane : lanes_)
      if (lane && lane->busy() && lane->control() != nullptr) running.push_back(lane->control());
    if (running.empty()) return;
    const auto share = std::max<std::int32_t>(options_.max_rate / static_cast<std::int32_t>(running.size()), 1);
    for (control::UserControl1* control : running)
      if (control->maxRate != share) control->set_max_rate(share);
  }

  // Over a far link a file's new connection costs a round trip before its
  // request can go (two over https). While files wait for a lane, the next
  // one's server gets a connection opened ahead, within its share, which
  // that file's Connect takes over; its slot is reopened as soon as it is
  // taken. The files that wait for an https server's first answer get one
  // each, up to the lanes that will take them: they connect meanwhile and
  // shake hands once taken, with the session that answer brought. Only
  // with lanes side by side (-j 1 opens one connection at a time), never
  // for a file with mirrors (the probes choose the server), and never
  // again to a server that closed one unused: it may count connections
  // and refuse the file's own.
  void open_spares() {
    if (lanes_.size() < 2 || next_batch_ >= batches_.size()) return;
    const std::vector<Endpoint> wanted = endpoints(next_batch_);
    if (wanted.size() != 1) return;
    const Endpoint& server = wanted.front();
    if (no_spares_.contains(server.key)) return;
    int want = 1;
    if (server.secure && !warm_.contains(server.key) && count(claims_, server.key) > 0) {
      const auto idle =
          std::count_if(lanes_.begin(), lanes_.end(), [](const auto& lane) { return !lane || !lane->busy(); });
      want = 0;
      for (std::size_t b = next_batch_; b < batches_.size() && want <= idle; ++b, ++want) {
        const std::vector<Endpoint> then = endpoints(b);
        if (then.size() != 1 || then.front().key != server.key) break;
      }
    }
    while (count(spares_, server.key) - promised(server.key) < want &&
           at_once(server.key) < max_connections_per_server) {
      auto gone = [this, alive = std::weak_ptr<int>(alive_), key = server.key](platform::SpareEnd end) {
        if (alive.expired()) return;
        spare_gone(key, end);
      };
      if (!machine_.preconnect(server.host, server.port, server.secure, std::move(gone))) {
        no_spares_.insert(server.key);
        return;
      }
      ++spares_[server.key];
    }
  }

  // A taken spare is taken by the first file to connect to its server:
  // the oldest file that counted on one now holds it. A spare that ended
  // otherwise leaves a file that counted on it to open its own, once no
  // other is left for it.
  void spare_gone(const std::string& key, platform::SpareEnd end) {
    decrement(spares_, key);
    if (end == platform::SpareEnd::lost) no_spares_.insert(key);
    if (end == platform::SpareEnd::taken || promised(key) > count(spares_, key)) drop_promise(key);
    if (end == platform::SpareEnd::taken) dispatch();
  }

  // Takes back a file's claim on a spare of `key`: lane k's, if it still
  // has one, or else the oldest.
  void drop_promise(const std::string& key, std::optional<std::size_t> k = std::nullopt) {
    const auto waiting = promised_by_.find(key);
    if (waiting == promised_by_.end()) return;
    std::deque<std::size_t>& lanes = waiting->second;
    const auto which = k ? std::find(lanes.begin(), lanes.end(), *k) : lanes.begin();
    if (which == lanes.end()) return;
    lanes.erase(which);
    if (lanes.empty()) promised_by_.erase(waiting);
  }

  // Connections to a server at once, at most: those its running files may
  // hold and its spares, less the spares that files under way will take.
  int at_once(const std::string& key) const { return count(claims_, key) - promised(key) + count(spares_, key); }
  int promised(const std::string& key) const {
    const auto found = promised_by_.find(key);
    return found == promised_by_.end() ? 0 : static_cast<int>(found->second.size());
  }
  static int count(const std::map<std::string, int>& counts, const std::string& key) {
    const auto found = counts.find(key);
    return found == counts.end() ? 0 : found->second;
  }
  static void decrement(std::map<std::string, int>& counts, const std::string& key) {
    if (--counts[key] <= 0) counts.erase(key);
  }

  // The servers of the files of batch b, as host:port, once per connection
  // their probes may open; https ones marked.
  struct Endpoint {
    std::string key;
    std::string host;
    std::int32_t port = 0;
    bool secure = false;
  };
  std::vector<Endpoint> endpoints(std::size_t b) const {
    std::vector<Endpoint> all;
    const Batch& batch = batches_[b];
    const auto add = [&](const std::string& text) {
      std::string why;
      if (const auto url = parse_download_url(text, why))
        all.push_back({url->server + ":" + std::to_string(url->port), url->server, url->port, url->secure});
    };
    for (std::size_t n = batch.first; n < batch.first + batch.count; ++n) {
      add(options_.files[n].url);
      for (const auto& mirror : options_.files[n].mirrors) add(mirror);
    }
    return all;
  }

  // As browsers do, at most this many connections at once to one server;
  // a batch that needs more alone is let through when nothing else holds
  // its servers, and one that takes a spare over adds none. An https
  // server gets one file until its first answer came: by then it has
  // handed out the session the others resume, instead of each making a
  // full handshake of its own.
  bool room_for(std::size_t b) const {
    // Two files of one name would be written into one local file at once:
    // the second waits, and then finds the first's file (complete, or
    // another's, which it saves beside).
    for (const auto& name : names(b))
      if (names_held_.contains(name)) return false;
    std::map<std::string, int> wanted;
    for (const auto& endpoint : endpoints(b)) {
      ++wanted[endpoint.key];
      if (endpoint.secure && !warm_.contains(endpoint.key) && count(claims_, endpoint.key) > 0) return false;
    }
    for (const auto& [endpoint, needed] : wanted) {
      const int now = at_once(endpoint);
      const int taken_over = std::min(needed, count(spares_, endpoint) - promised(endpoint));
      if (now > 0 && now + needed - taken_over > max_connections_per_server) return false;
    }
    return true;
  }

  // The names the files of batch b are saved under, as their URLs give them.
  std::vector<std::string> names(std::size_t b) const {
    std::vector<std::string> all;
    for (std::size_t n = batches_[b].first; n < batches_[b].first + batches_[b].count; ++n) {
      std::string why;
      if (const auto url = parse_download_url(options_.files[n].url, why)) all.push_back(url->file_name);
    }
    return all;
  }

  void take(std::size_t lane, std::size_t b) {
    named_[lane] = names(b);
    for (const auto& name : named_[lane]) ++names_held_[name];
    held_[lane].clear();
    for (const auto& endpoint : endpoints(b)) {
      held_[lane].push_back(endpoint.key);
      ++claims_[endpoint.key];
      if (count(spares_, endpoint.key) > promised(endpoint.key)) promised_by_[endpoint.key].push_back(lane);
    }
    lane_of_last_batch_ = lane;
  }

  std::size_t lane_index(const Lane& lane) const {
    for (std::size_t k = 0; k < lanes_.size(); ++k)
      if (lanes_[k].get() == &lane) return k;
    return lanes_.size();
  }

  void release(Lane& lane) {
    const std::size_t k = lane_index(lane);
    for (const auto& endpoint : held_[k]) {
      warm_.insert(endpoint);
      decrement(claims_, endpoint);
      // A file that never connected leaves the spare it counted on to another.
      drop_promise(endpoint, k);
    }
    held_.erase(k);
    for (const auto& name : named_[k])
      if (--names_held_[name] == 0) names_held_.erase(name);
    named_.erase(k);
  }

  void interrupt(int signal) {
    if (interrupted_ != 0) return;
    interrupted_ = signal;
    bool told = false;
    for (const auto& lane : lanes_)
      if (lane && lane->interrupt()) told = true;
    if (!told) report_.error("interrupted");
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

  static constexpr int max_connections_per_server = 6;

  const GetOptions& options_;
  platform::EventLoop& loop_;
  Report& report_;
  platform::Platform& machine_;
  std::vector<Batch> batches_;
  std::size_t next_batch_ = 0;
  std::vector<std::unique_ptr<Lane>> lanes_;
  std::size_t lane_of_last_batch_ = 0;
  std::string folder_;
  std::map<std::string, int> claims_;                           // connections a server may get from running files
  std::map<std::size_t, std::vector<std::string>> held_;        // by lane
  std::set<std::string> warm_;                                  // servers that have answered
  std::map<std::string, int> spares_;                           // connections opened ahead, by server
  std::map<std::string, std::deque<std::size_t>> promised_by_;  // lanes whose file will take one, oldest first
  std::set<std::string> no_spares_;                             // servers that get none
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);       // for what the platform calls back later
  std::map<std::string, int> names_held_;                       // local names of running files
  std::map<std::size_t, std::vector<std::string>> named_;       // by lane
  std::vector<Outcome> outcomes_;
  double received_ = 0;
  platform::Stopwatch stopwatch_;
  int interrupted_ = 0;  // the signal that ended the run
  bool began_ = false;   // a file was started
  bool ended_ = false;
  bool fatal_ = false;
};

using Outcome = GetSession::Outcome;

std::string Lane::URL() { return s_.options().referer; }
std::string Lane::cookie() { return s_.options().cookie; }

bool Lane::busy() const { return current_ != 0 && !s_.stopping(); }

bool Lane::pending(int n) const {
  const GetSession& session = s_;
  return !session.stopping() && n == current_ && session.outcome(n) == Outcome::pending;
}

bool Lane::call(const std::function<void()>& fn) {
  try {
    fn();
    return true;
  } catch (const AutomationError& error) {
    s_.fatal(describe(error));
    return false;
  }
}

std::string Lane::last_error() {
  const std::string number = control_->dErrorNumber();
  const std::string text = control_->dErrorDesc();
  return number == "0" ? text : text + " (error " + number + ")";
}

double Lane::size_on_disk(int n) {
  try {
    return record(n).FileSize();
  } catch (const AutomationError&) {
    return 0;
  }
}

void Lane::OnStatusChange(const std::string& Text) {
  if (current_ < 1 || current_ > s_.files()) {
    s_.report().queue_status(Text);
    return;
  }
  const int n = current_;
  // A socket error's number and text are stored only after its status is
  // raised, so failures are judged once the event is over; a failed
  // attempt is shown then too, with its number and reason.
  if (Text == "Waiting for a connection") {
    s_.loop().post([this, n] { attempt_failed(n); });
    return;
  }
  if (Text == control::UserControl1::already_complete_text) already_complete_ = true;
  if (Text == "Determining File Size" || Text == "Redirecting" || Text == "File Not Found" ||
      Text == control::UserControl1::already_complete_text)
    s_.answered(*this);
  s_.report().status(n, s_.files(), Text);
  show_progress();
  if (Text == "File Not Found") {
    s_.loop().post([this, n] {
      if (!pending(n)) return;
      std::string why = last_error();
      // Said in the words of this program's own failures.
      if (why.starts_with("Gave up after ")) why[0] = 'g';
      fail(n, why);
    });
  }
}

void Lane::OnFileComplete(const std::string& Text) {
  const int n = current_;
  show_progress();
  s_.loop().post([this, n, path = Text] {
    if (pending(n)) complete(n, path);
  });
}

void Lane::OnTransferComplete() { s_.ended(); }

bool Lane::begin_batch(std::size_t b) {
  const GetSession::Batch& batch = s_.batch(b);
  if (control_) {
    // Later controls save where the first was told to, without asking.
    dialog_ = std::make_unique<KnownFolder>(control_->sBuffer);
    preselect_ = control_->sBuffer;
  }
  batch_ = b;
  base_ = static_cast<int>(batch.first);
  last_ = base_ + static_cast<int>(batch.count);
  current_ = 0;
  control_.reset();
  control_ = std::make_unique<control::UserControl1>(s_.machine(), this);
  const GetOptions& o = s_.options();
  const bool started = call([&] {
    for (int n = base_ + 1; n <= last_; ++n) control_->AddFile(control_url(o.files[GetSession::index(n)].url));
    // The control gives a file up after this many fruitless attempts.
    control_->maxTries = static_cast<std::int16_t>(o.tries);
    control_->Timer1->set_interval(o.tick_interval);
    control_->set_eager_ticks(o.eager);
    control_->set_adopt_foreign_parts(o.continue_foreign);
    control_->set_extra_header_lines(o.extra_header_lines);
    control_->SetDLText(o.title);
    control_->SetDirectory(preselect_);
    // Asks for the folder with the loop running, then starts file 1.
    control_->StartQueue();
  });
  if (!started || s_.stopping()) return false;
  if (control_->DownloadFiles->Count() < static_cast<int>(batch.count)) {
    s_.fatal("no folder was chosen; nothing was downloaded");
    return false;
  }
  begin_file(base_ + 1);
  return true;
}

void Lane::begin_file(int n) {
  current_ = n;
  s_.began();
  already_complete_ = false;
  last_size_ = size_on_disk(n);
  file_clock_.restart();
  const FileRequest& file = s_.options().files[GetSession::index(n)];
  s_.report().file_started(n, s_.files(), file.url);
  call([&] {
    // Set before the file's first tick, so its bytes are hashed as they come.
    record(n).checksum = file.checksum;
    // Records exist only once the queue has started, and the start ran
    // file 1 with its single server: its mirrors join it now and it is
    // started again, so that it is probed on all of them.
    for (const auto& mirror : file.mirrors) {
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
    if (local(n) > 1 || !file.mirrors.empty()) control_->GotoFile(local(n));
  });
}

// Another attempt follows: the control counts them and gives the file up
// itself ("File Not Found") once --tries in a row brought nothing.
void Lane::attempt_failed(int n) {
  if (!pending(n)) return;
  const double size = size_on_disk(n);
  if (size > last_size_) {
    // The attempt brought bytes: the server works, only the connection
    // broke. The control counts afresh from here.
    last_size_ = size;
    s_.report().status(n, s_.files(), "Waiting for a connection: " + last_error());
    return;
  }
  s_.report().retrying(n, s_.files(), control_->failed_attempts(local(n)), s_.options().tries, last_error());
}

void Lane::complete(int n, const std::string& path) {
  s_.outcome(n) = Outcome::done;
  const double fetched = count_received(n);
  if (already_complete_)
    s_.report().file_already_complete(n, s_.files(), path, size_on_disk(n));
  else
    s_.report().file_done(n, s_.files(), path, size_on_disk(n), fetched, file_clock_.seconds());
  next();
}

void Lane::fail(int n, const std::string& why) {
  s_.outcome(n) = Outcome::failed;
  count_received(n);
  s_.report().file_failed(n, s_.files(), why);
  next();
}

// The bytes file n fetched in this run, added to the run's count.
double Lane::count_received(int n) {
  const queue::DownloadFile& F = record(n);
  // What is on disk from before this transfer is not counted again.
  const double fetched = F.downloadedbytes > F.bytesondisk ? F.downloadedbytes - F.bytesondisk : 0;
  s_.add_received(fetched);
  return fetched;
}

void Lane::next() {
  if (current_ < last_) {
    begin_file(current_ + 1);
    return;
  }
  current_ = 0;
  s_.lane_free(*this);
}

void Lane::end_queue() {
  current_ = s_.files() + 1;
  call([this] { control_->GotoFile(static_cast<std::int16_t>(control_->dTotalFiles() + 1)); });
}

bool Lane::interrupt() {
  const int n = current_;
  if (n < 1 || n > s_.files() || s_.outcome(n) != Outcome::pending) return false;
  // Closing the transfer keeps the part on disk; the next run with the
  // same folder resumes it.
  try {
    control_->CancelQueue();
  } catch (const AutomationError&) {
  }
  count_received(n);
  const double size = size_on_disk(n);
  if (size <= 0) return false;
  s_.report().error("interrupted; partial file kept for the next run: " + record(n).localfilename + " (" +
                    format_bytes(size) + ")");
  return true;
}

void Lane::show_progress() {
  if (s_.report().mode() != OutputMode::terminal || current_ < 1 || current_ > s_.files()) return;
  try {
    Progress p;
    p.file = current_;
    p.files = s_.files();
    p.name = base_name(control_->dCurrentFileName());
    p.done = number(control_->dBytesTransferred());
    p.size = number(control_->dBytesTotal());
    p.percent = number(control_->dPercentComplete());
    p.rate = number(control_->dRate());
    p.remaining = number(control_->dRemainingTime());
    s_.report().progress(p);
  } catch (const AutomationError&) {
    // No current record yet: nothing to draw.
  } catch (const std::logic_error&) {
  }
}

}  // namespace

int run_get_session(const GetOptions& options, platform::EventLoop& loop, platform::Platform& machine, Report& report,
                    std::unique_ptr<platform::FolderDialog> dialog, std::string preselect) {
  GetSession session(options, loop, machine, report, std::move(dialog), std::move(preselect));
  return session.run();
}

}  // namespace vintrel::apps
