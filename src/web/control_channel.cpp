#include "web/control_channel.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "automation/automation.hpp"
#include "control/dispatch.hpp"
#include "control/type_library.hpp"
#include "control/user_control1.hpp"
#include "host/session.hpp"
#include "host/values.hpp"
#include "platform/event_loop.hpp"
#include "platform/file_system.hpp"
#include "queue/records.hpp"

namespace vintrel::web {

namespace {

using host::Json;

// Members whose value becomes a path the control writes files at.
bool names_a_local_path(std::string_view member) {
  return automation::same_name(member, "sBuffer") || automation::same_name(member, "localfilename");
}

// The last member name of a path such as "DownloadFiles(1).localfilename".
std::string_view last_member(std::string_view path) {
  while (!path.empty() && path.back() == ' ') path.remove_suffix(1);
  const auto dot = path.rfind('.');
  if (dot != std::string_view::npos) path.remove_prefix(dot + 1);
  while (!path.empty() && path.front() == ' ') path.remove_prefix(1);
  return path;
}

// Why the page may not make this request, or nothing. Requests this cannot
// read are left to the session, which answers them with its own errors.
std::optional<std::string> refusal(const Json& request) {
  if (!request.is_object()) return std::nullopt;
  const auto op = request.find("op");
  if (op == request.end() || !op->is_string()) return std::nullopt;
  if (*op == "folder") return "a page cannot answer the folder dialog; the user does, on this machine";
  if (*op != "put") return std::nullopt;
  std::string member;
  if (const auto name = request.find("name"); name != request.end() && name->is_string()) {
    member = name->get<std::string>();
  } else if (const auto path = request.find("path"); path != request.end() && path->is_string()) {
    member = std::string(last_member(path->get<std::string>()));
  } else if (const auto id = request.find("dispid"); id != request.end() && id->is_number_integer()) {
    if (const auto* m = control::typelib::find(static_cast<control::DispId>(id->get<std::int64_t>())))
      member = std::string(m->name);
  }
  if (names_a_local_path(member))
    return "a page cannot set " + member + ": only the user chooses where files are saved";
  return std::nullopt;
}

// How one file of the queue ended, or how its attempts go.
struct Outcome {
  std::string state;  // "", "done" or "failed"
  std::string path;
  std::int64_t number = 0;
  std::string description;
  int tries = 0;
  int fruitless = 0;
  std::int64_t size = -1;  // on disk after the last attempt
};

// What happened while no page was attached.
struct Missed {
  int statuses = 0;
  int done = 0;
  int failed = 0;
  int retries = 0;
};

class ControlChannel final : public Channel {
 public:
  ControlChannel(platform::Platform& platform, Outlet outlet, const ControlChannelOptions& options, std::string session)
      : outlet_(std::move(outlet)),
        id_(std::move(session)),
        loop_(options.loop),
        folder_(options.folder),
        can_open_(options.allow_open),
        limit_rate_(options.max_rate),
        session_(
            platform, [this](const std::string& line) { output(line); },
            host::SessionOptions{options.dialog, options.allow_open, options.tick_interval, options.eager_ticks,
                                 options.extra_header_lines, options.max_rate}) {}

  ~ControlChannel() override { *alive_ = false; }

  void receive(std::string_view message) override {
    if (session_.closed()) return;
    // Read with the session's depth limit: a page's message must not
    // build a tree deeper than the session itself would accept.
    const host::ParsedLine parsed = host::parse_line(message);
    if (parsed.ok()) {
      const Json& request = parsed.value;
      if (own_request(request)) return;
      if (const auto why = refusal(request)) {
        Json id = request.contains("id") ? request["id"] : Json(nullptr);
        send(host::dump_line(Json{{"id", id},
                                  {"error",
                                   {{"number", host::protocol_error::refused},
                                    {"source", "Vintrel.Web"},
                                    {"description", "Permission denied: " + *why}}}}));
        return;
      }
    }
    session_.handle(message);
    if (session_.closed() && outlet_.close) outlet_.close();
  }

  void peer_gone() override { session_.close(); }
  void detach() override {
    attached_ = false;
    outlet_ = Outlet{};
  }
  void attach(Outlet outlet) override {
    outlet_ = std::move(outlet);
    attached_ = true;
    ++attaches_;
  }
  bool finished() const override { return session_.closed(); }
  bool idle() const override { return !session_.busy() && !session_.transferring(); }

 private:
  control::UserControl1& engine() { return session_.control().control(); }

  void send(const std::string& line) {
    if (attached_ && outlet_.send) outlet_.send(line);
  }
  void event(const char* name, Json detail) { send(host::dump_line(Json{{"event", name}, {"args", {detail}}})); }

  // The requests of the web layer; false for everything else.
  bool own_request(const Json& request) {
    if (!request.is_object()) return false;
    const auto op = request.find("op");
    if (op == request.end() || !op->is_string() || (*op != "drive" && *op != "session" && *op != "sessions"))
      return false;
    Json answer{{"id", request.contains("id") ? request["id"] : Json(nullptr)}};
    if (*op == "drive") {
      // The control itself gives a file up after that many fruitless
      // attempts (20 unless told), with its own "File Not Found".
      if (const auto tries = request.find("tries"); tries != request.end() && tries->is_number_integer())
        engine().maxTries = static_cast<std::int16_t>(std::clamp<std::int64_t>(tries->get<std::int64_t>(), 1, 1000));
      driving_ = true;
      answer["result"] = nullptr;
    } else if (*op == "sessions") {
      const Json list = outlet_.sessions ? Json::parse(outlet_.sessions(), nullptr, false) : Json::array();
      answer["result"] = Json{{"sessions", list.is_array() ? list : Json::array()}};
    } else {
      Json result = state();
      result["resumed"] = attaches_ > 0;
      result["missed"] = Json{{"statuses", missed_.statuses},
                              {"done", missed_.done},
                              {"failed", missed_.failed},
                              {"retries", missed_.retries}};
      result["folder"] = folder_;
      result["can_open"] = can_open_;
      // The cap as it stands, which the page shows again after a reload,
      // and the one a new control starts with, which its field offers.
      result["max_rate"] = engine().maxRate;
      result["limit_rate"] = limit_rate_;
      answer["result"] = std::move(result);
      missed_ = Missed{};
    }
    send(host::dump_line(answer));
    return true;
  }

  std::string summary() override { return state().dump(); }

  // The queue as it stands: its identifier, where it is, each file's
  // outcome and the server chosen for the current file.
  Json state() {
    Json files = Json::array();
    for (const auto& [n, o] : outcomes_) {
      Json file{{"file", n}, {"state", o.state}, {"tries", o.tries}, {"fruitless", o.fruitless}};
      if (!o.path.empty()) file["path"] = o.path;
      if (o.state == "done") file["size"] = o.size;
      if (o.number != 0 || !o.description.empty())
        file["error"] = Json{{"number", o.number}, {"description", o.description}};
      files.push_back(std::move(file));
    }
    control::UserControl1& c = engine();
    return Json{{"session", id_},
                {"state", queue_state()},
                {"files", std::move(files)},
                {"status", status_},
                {"current", c.CurFile},
                {"total", c.totalFiles},
                {"server", known(c.CurFile) ? told_servers_[c.CurFile] : std::string()},
                {"size_known", length_given_},
                {"ended", ended_}};
  }

  // What the page may do with the queue: "new" before it starts, then
  // "running", "paused", "cancelled" (until a file is started again) or
  // "ended" once past its last file.
  std::string queue_state() {
    const control::UserControl1& c = engine();
    if (ended_) return "ended";
    if (c.totalFiles < 1) return "new";
    if (held_ && held_->at == c.qPointer) return held_->cancelled ? "cancelled" : "paused";
    return "running";
  }

  // Every line of the session goes to the page, if one is attached; the
  // control's events are besides what the queue is moved on by.
  void output(const std::string& line) {
    send(line);
    if (line.find("\"event\"") == std::string::npos) return;
    const Json message = Json::parse(line, nullptr, false);
    if (!message.is_object() || !message.contains("args") || !message["args"].is_array()) return;
    const std::string name = message.value("event", "");
    const Json& args = message["args"];
    const std::int16_t n = engine().CurFile;
    if (name == "OnStatusChange" && !args.empty() && args[0].is_string()) {
      status_ = args[0].get<std::string>();
      if (!attached_) ++missed_.statuses;
      held(n);
      // The control says so only when an answer gives the file's length; a
      // new attempt or another file starts without one.
      if (status_ == "Determining File Size") length_given_ = true;
      if (status_ == "Locating File" || status_ == "Redirecting" || status_ == "Waiting for a connection")
        length_given_ = false;
      // What was on disk before the first attempt: a resumed file starts
      // with its part.
      if (known(n) && outcomes_[n].size < 0 && status_ != "Waiting for a connection")
        outcomes_[n].size = platform::file_size_of(engine().DownloadFiles->Item(n).localfilename);
      if (status_ == "File Not Found") {
        // A file the control gave up: its last attempt failed as well.
        const control::UserControl1& c = engine();
        if (known(n) && outcomes_[n].state.empty() && c.maxTries > 0 && c.failed_attempts(n) >= c.maxTries)
          ++outcomes_[n].tries;
        finish(n, "failed", "", c.theerrnumber, c.theerrdesc);
      } else if (status_ == "Waiting for a connection") {
        retried(n);
      } else if (status_ == "Locating File") {
        // The probes are judged: the page learns the server at once, not
        // when the file ends.
        chosen(n);
      }
    } else if (name == "OnFileComplete" && !args.empty() && args[0].is_string()) {
      finish(n, "done", args[0].get<std::string>(), 0, "");
    } else if (name == "OnTransferComplete") {
      ended_ = true;
    }
  }

  // The server the file was fetched from (of its mirrors, the chosen one).
  std::string server_of(std::int16_t n) {
    const auto server = engine().chosen_server(n);
    if (!server) return "";
    return server->servName + ":" + std::to_string(server->PortNum);
  }

  bool known(std::int16_t n) { return n >= 1 && n <= engine().DownloadFiles->Count(); }

  void finish(std::int16_t n, const char* state, std::string path, std::int64_t number, std::string description) {
    if (!known(n)) return;
    Outcome& o = outcomes_[n];
    if (!o.state.empty()) return;
    o.state = state;
    o.path = std::move(path);
    o.number = number;
    o.description = std::move(description);
    if (!attached_) ++(o.state == "done" ? missed_.done : missed_.failed);
    if (o.state == "done") o.size = platform::file_size_of(o.path);
    Json detail{{"file", n}, {"state", o.state}, {"tries", o.tries}, {"server", server_of(n)}};
    if (!o.path.empty()) detail["path"] = o.path;
    if (o.state == "done") detail["size"] = o.size;
    if (o.state == "failed") detail["error"] = Json{{"number", o.number}, {"description", o.description}};
    event("FileOutcome", std::move(detail));
    if (driving_) move_on(n);
  }

  // Every reconnection is told with the control's count of the attempts in
  // a row that brought nothing, which it gives the file up at.
  void retried(std::int16_t n) {
    if (!known(n)) return;
    Outcome& o = outcomes_[n];
    if (!o.state.empty()) return;
    ++o.tries;
    if (!attached_) ++missed_.retries;
    o.size = std::max(o.size, platform::file_size_of(engine().DownloadFiles->Item(n).localfilename));
    o.fruitless = engine().failed_attempts(n);
    event("FileRetry", Json{{"file", n},
                            {"server", server_of(n)},
                            {"tries", o.tries},
                            {"fruitless", o.fruitless},
                            {"limit", engine().maxTries},
                            {"error", {{"number", engine().theerrnumber}, {"description", engine().theerrdesc}}}});
  }

  // Pausing or cancelling holds the queue until a file is started again
  // (the control then counts a new start in qPointer). A file still being
  // located when the page held it is carried on by the control's timer to a
  // connection of its own; that connection is closed as soon as it is made,
  // after the tick that made it, so a held queue never downloads.
  void held(std::int16_t n) {
    const control::UserControl1& c = engine();
    if (status_ == "Paused Queue" || status_ == "Cancelled Download Queue") {
      const bool cancelled =
          status_ == "Cancelled Download Queue" || (held_ && held_->at == c.qPointer && held_->cancelled);
      held_ = Hold{c.qPointer, cancelled};
      return;
    }
    if (!held_ || held_->at != c.qPointer || (status_ != "Locating File" && status_ != "Downloading")) return;
    auto hold = [this, alive = std::weak_ptr<bool>(alive_), n, at = c.qPointer] {
      const auto still = alive.lock();
      if (!still || !*still || session_.closed() || !held_ || held_->at != at || engine().CurFile != n) return;
      try {
        if (held_->cancelled) {
          engine().CancelQueue();
        } else {
          engine().PauseQueue();
        }
      } catch (const automation::AutomationError&) {
        // No transfer socket to close: nothing runs.
      }
    };
    if (loop_) {
      loop_->post(std::move(hold));
    } else {
      hold();
    }
  }

  void chosen(std::int16_t n) {
    if (!known(n)) return;
    std::string server = server_of(n);
    if (server.empty() || told_servers_[n] == server) return;
    told_servers_[n] = server;
    event("FileServer", Json{{"file", n}, {"server", std::move(server)}});
  }

  // After the event that ended file n, never inside it: the control is
  // still in the middle of that file's step.
  void move_on(std::int16_t n) {
    auto step = [this, alive = std::weak_ptr<bool>(alive_), n] {
      const auto still = alive.lock();
      if (!still || !*still || session_.closed() || engine().CurFile != n) return;
      try {
        engine().GotoFile(static_cast<std::int16_t>(n + 1));
      } catch (const automation::AutomationError&) {
        // Past the last file the queue has ended; nothing more to move.
      }
    };
    if (loop_) {
      loop_->post(std::move(step));
    } else {
      step();
    }
  }

  Outlet outlet_;
  std::string id_;
  platform::EventLoop* loop_;
  std::string folder_;
  bool can_open_;
  std::int32_t limit_rate_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool attached_ = true;
  int attaches_ = 0;
  bool driving_ = false;
  std::map<std::int16_t, Outcome> outcomes_;
  Missed missed_;
  // Where the page paused or cancelled the queue: qPointer at the time.
  struct Hold {
    std::int16_t at = 0;
    bool cancelled = false;
  };
  std::optional<Hold> held_;
  std::map<std::int16_t, std::string> told_servers_;
  bool length_given_ = false;  // of the current file's answer
  std::string status_;
  bool ended_ = false;
  host::Session session_;  // last: its events reach the members above
};

}  // namespace

std::unique_ptr<Channel> make_control_channel(platform::Platform& platform, Outlet outlet,
                                              const ControlChannelOptions& options, std::string session) {
  return std::make_unique<ControlChannel>(platform, std::move(outlet), options, std::move(session));
}

}  // namespace vintrel::web
