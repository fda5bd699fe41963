#include "host/session.hpp"

#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "automation/collection.hpp"
#include "control/dispatch.hpp"
#include "control/interfaces/interfaces.hpp"
#include "control/type_library.hpp"
#include "control/user_control1.hpp"
#include "host/json_property_bag.hpp"
#include "host/path.hpp"
#include "host/peer_folder_dialog.hpp"
#include "host/protocol_failure.hpp"
#include "host/values.hpp"
#include "platform/container.hpp"
#include "platform/file_system.hpp"
#include "platform/platform.hpp"
#include "queue/records.hpp"
#include "text/text.hpp"

namespace vintrel::host {

namespace {

using json = Json;
using automation::AutomationError;
using automation::Variant;

// Script reads a member and calls a method the same way.
constexpr std::uint16_t read_or_call = control::invoke::method | control::invoke::property_get;

const json& field(const json& request, const char* name) {
  const auto it = request.find(name);
  if (it == request.end()) fail(protocol_error::bad_request, std::string("\"") + name + "\" is missing");
  return *it;
}

std::string text_field(const json& request, const char* name) {
  const json& value = field(request, name);
  if (!value.is_string()) fail(protocol_error::bad_request, std::string("\"") + name + "\" must be a string");
  return value.get<std::string>();
}

}  // namespace

struct Session::Impl final : platform::Container, platform::PageObject {
  Impl(platform::Platform& platform, Output out, SessionOptions session_options)
      : output(std::move(out)),
        options(std::move(session_options)),
        peer_dialog([this](const json& event) { send(event); }),
        ctl(platform, this) {
    if (options.tick_interval > 0) ctl.control().Timer1->set_interval(options.tick_interval);
    ctl.control().set_eager_ticks(options.eager_ticks);
    ctl.control().set_extra_header_lines(options.extra_header_lines);
    ctl.control().maxRate = options.max_rate;
  }

  Output output;
  SessionOptions options;
  PeerFolderDialog peer_dialog;
  std::string page_url;
  std::string page_cookie;
  int depth = 0;
  bool closed = false;
  control::ControlObject ctl;  // last: it raises events into the members above

  void send(const json& message) { output(dump_line(message)); }

  // ---- What the control asks of its host ---------------------------------
  void OnStatusChange(const std::string& Text) override { event("OnStatusChange", json::array({Text})); }
  void OnFileComplete(const std::string& Text) override { event("OnFileComplete", json::array({Text})); }
  void OnTransferComplete() override { event("OnTransferComplete", json::array()); }
  platform::PageObject* page() override { return this; }
  platform::FolderDialog* folder_dialog() override {
    return options.dialog ? options.dialog : static_cast<platform::FolderDialog*>(&peer_dialog);
  }
  std::string URL() override { return page_url; }
  std::string cookie() override { return page_cookie; }

  void event(const char* name, json args) { send(json{{"event", name}, {"args", std::move(args)}}); }

  // ---- Requests -------------------------------------------------------------
  void handle(std::string_view line) {
    if (closed || line.find_first_not_of(" \t\r\n") == std::string_view::npos) return;
    ++depth;
    json id = nullptr;
    json answer;
    try {
      const ParsedLine parsed = parse_line(line);
      if (parsed.status == ParsedLine::Status::too_deep)
        fail(protocol_error::malformed, "JSON nested deeper than " + std::to_string(max_json_depth) + " levels");
      if (!parsed.ok()) fail(protocol_error::malformed, "the line is not JSON");
      const json& request = parsed.value;
      if (!request.is_object()) fail(protocol_error::malformed, "a request is a JSON object");
      if (const auto it = request.find("id"); it != request.end()) id = *it;
      answer = json{{"id", id}};
      perform(request, answer);
    } catch (const AutomationError& error) {
      answer = json{
          {"id", id},
          {"error", {{"number", error.number()}, {"source", error.source()}, {"description", error.description()}}}};
    } catch (const std::exception& error) {
      answer = json{{"id", id},
                    {"error",
                     {{"number", protocol_error::internal},
                      {"source", protocol_source},
                      {"description", std::string("Internal error: ") + error.what()}}}};
    }
    --depth;
    send(answer);
  }

  void perform(const json& request, json& answer) {
    const auto op_field = request.find("op");
    if (op_field == request.end() || !op_field->is_string()) fail(protocol_error::unknown_op, "\"op\" is missing");
    const std::string op = op_field->get<std::string>();
    json result = nullptr;
    json written = nullptr;  // by-reference arguments after a call
    if (op == "get") {
      result = to_json(get(request));
    } else if (op == "put") {
      put(request);
    } else if (op == "call") {
      result = call(request, written);
    } else if (op == "add_server") {
      result = add_server(request);
    } else if (op == "page") {
      page_data(request);
    } else if (op == "folder") {
      folder(request);
    } else if (op == "save") {
      JsonPropertyBag bag;
      ctl.Save(bag);
      result = bag.values();
    } else if (op == "load") {
      const json& values = field(request, "bag");
      if (!values.is_object()) fail(protocol_error::bad_request, "\"bag\" must be an object");
      JsonPropertyBag bag(values);
      ctl.Load(bag);
    } else if (op == "quit") {
      close();
    } else {
      fail(protocol_error::unknown_op, "unknown op \"" + op + "\"");
    }
    answer["result"] = std::move(result);
    if (!written.is_null()) answer["args"] = std::move(written);
  }

  // Where a get, put or call goes: a member of the control by dispatch
  // identifier, or the last segment of a path from the control.
  struct Target {
    std::optional<control::DispId> dispid;
    std::shared_ptr<automation::Object> held;  // keeps an object of a path alive
    automation::Object* object = nullptr;
    Segment member;
  };

  Target target(const json& request) {
    Target t;
    t.object = &ctl;
    if (const auto it = request.find("dispid"); it != request.end()) {
      if (!it->is_number_integer()) fail(protocol_error::bad_request, "\"dispid\" must be an integer");
      t.dispid = static_cast<control::DispId>(it->get<std::int64_t>());
      check_allowed(typelib_member(*t.dispid));
      return t;
    }
    std::vector<Segment> segments;
    if (const auto it = request.find("name"); it != request.end()) {
      if (!it->is_string()) fail(protocol_error::bad_request, "\"name\" must be a string");
      segments.push_back(Segment{it->get<std::string>(), false, {}});
    } else if (const auto path = request.find("path"); path != request.end()) {
      if (!path->is_string()) fail(protocol_error::bad_request, "\"path\" must be a string");
      segments = PathParser(path->get<std::string>()).parse();
    } else {
      fail(protocol_error::bad_request, "\"name\", \"dispid\" or \"path\" is missing");
    }
    if (segments.size() == 1) check_allowed(control::typelib::find(segments.front().name));
    for (std::size_t k = 0; k + 1 < segments.size(); ++k) {
      const Variant next = read(*t.object, segments[k]);
      t.held = automation::to_object(next);
      if (!t.held) automation::raise(automation::err::object_required);
      t.object = t.held.get();
    }
    t.member = std::move(segments.back());
    return t;
  }

  static const control::typelib::Member* typelib_member(control::DispId id) { return control::typelib::find(id); }

  void check_allowed(const control::typelib::Member* member) const {
    if (options.allow_open || !member) return;
    if (automation::same_name(member->name, "ExecFile") || automation::same_name(member->name, "OpenIt"))
      fail(protocol_error::refused,
           "Permission denied: " + std::string(member->name) + " starts a program, which this host does not allow");
  }

  // A segment read: "X" reads member X; "X(n)" is item n of X (its default
  // member), and "Item(n)" is item n of the object itself.
  static Variant read(automation::Object& object, const Segment& s) {
    if (!s.indexed) return object.get(s.name);
    std::vector<Variant> index = s.index;
    if (automation::same_name(s.name, "Item")) return object.call("Item", index);
    const auto holder = automation::to_object(object.get(s.name));
    if (!holder) automation::raise(automation::err::object_required);
    return holder->call("", index);
  }

  static void expect_member(const Segment& s, const char* op) {
    if (s.indexed) fail(protocol_error::bad_request, std::string("a ") + op + " ends its path with a member name");
  }

  Variant get(const json& request) {
    Target t = target(request);
    std::vector<Variant> none;
    if (t.dispid) return ctl.Invoke(*t.dispid, read_or_call, none);
    return read(*t.object, t.member);
  }

  void put(const json& request) {
    Target t = target(request);
    std::vector<Variant> value{from_json(field(request, "value"))};
    if (t.dispid) {
      ctl.Invoke(*t.dispid, control::invoke::property_put, value);
      return;
    }
    expect_member(t.member, "put");
    t.object->put(t.member.name, value.front());
  }

  json call(const json& request, json& written) {
    Target t = target(request);
    std::vector<Variant> args;
    if (const auto it = request.find("args"); it != request.end()) {
      if (!it->is_array()) fail(protocol_error::bad_request, "\"args\" must be an array");
      for (const auto& arg : *it) args.push_back(from_json(arg));
    }
    const control::typelib::Member* member = nullptr;
    Variant result;
    if (t.dispid) {
      member = control::typelib::find(*t.dispid);
      result = ctl.Invoke(*t.dispid, read_or_call, args);
    } else {
      expect_member(t.member, "call");
      if (t.object == &ctl) member = control::typelib::find(t.member.name);
      result = t.object->call(t.member.name, args);
    }
    // What the method did to its by-reference arguments goes back to the
    // peer, as it would to script.
    if (member) {
      bool by_ref = false;
      for (const auto& p : member->parameters) by_ref = by_ref || p.by_ref;
      if (by_ref) {
        written = json::array();
        for (const auto& arg : args) written.push_back(to_json(arg));
      }
    }
    return to_json(result);
  }

  // A candidate server made as script makes one, through the records'
  // public members, and added to the file's remoteServerLocs.
  json add_server(const json& request) {
    const json& file = field(request, "file");
    const json& members = field(request, "server");
    if (!members.is_object()) fail(protocol_error::bad_request, "\"server\" must be an object");
    auto server = std::make_shared<queue::remoteServerLoc>();
    for (const auto& [name, value] : members.items()) server->put(name, from_json(value));
    std::vector<Variant> index{from_json(file)};
    const auto files = automation::to_object(ctl.get("DownloadFiles"));
    const auto record = automation::to_object(files->call("Item", index));
    const auto servers = automation::to_object(record->get("remoteServerLocs"));
    std::vector<Variant> add{Variant(std::static_pointer_cast<automation::Object>(server))};
    servers->call("Add", add);
    return to_json(servers->get("Count"));
  }

  // Both become header lines of every request; a control byte in either
  // refuses the whole request, so nothing of it is kept.
  void page_data(const json& request) {
    const auto header_text = [&](const char* name, std::string& into) {
      if (!request.contains(name)) return false;
      into = text_field(request, name);
      if (const auto at = text::find_control(into); at != std::string::npos)
        fail(protocol_error::bad_request,
             std::string("\"") + name + "\" holds " + text::control_name(into[at]) + ", which no request may carry");
      return true;
    };
    std::string url;
    std::string cookie;
    const bool has_url = header_text("url", url);
    const bool has_cookie = header_text("cookie", cookie);
    if (has_url) page_url = std::move(url);
    if (has_cookie) page_cookie = std::move(cookie);
  }

  void folder(const json& request) {
    if (options.dialog || !peer_dialog.waiting())
      fail(protocol_error::no_dialog, "no folder dialog is waiting for an answer");
    if (const auto it = request.find("cancel"); it != request.end() && *it == true) {
      peer_dialog.answer(std::nullopt);
      return;
    }
    std::string folder = text_field(request, "folder");
    // As the machine's dialogs answer: an existing folder, absolute, with
    // no trailing slash, since the control puts one between it and a name.
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty() || folder.front() != '/' || !platform::folder_exists(folder))
      fail(protocol_error::no_folder, "Path not found: " + folder + " is not an existing absolute folder");
    peer_dialog.answer(std::move(folder));
  }

  void close() {
    closed = true;
    peer_dialog.peer_gone();
  }
};

Session::Session(platform::Platform& platform, Output output, SessionOptions options)
    : impl_(std::make_unique<Impl>(platform, std::move(output), std::move(options))) {}

Session::~Session() = default;

void Session::handle(std::string_view line) { impl_->handle(line); }
void Session::close() { impl_->close(); }
bool Session::closed() const { return impl_->closed; }
bool Session::busy() const { return impl_->depth > 0; }
bool Session::transferring() const {
  const control::UserControl1& engine = impl_->ctl.control();
  const std::int16_t n = engine.CurFile;
  if (engine.totalFiles < 1 || n < 1 || n > engine.DownloadFiles->Count()) return false;
  const std::string& status = engine.DownloadFiles->Item(n).downloadStatus;
  // Paused and cancelled queues keep their file "downloading" with its
  // socket closed; nothing moves until the page resumes.
  if (status == queue::status::downloading)
    return engine.Winsock1->IsLoaded(n) && engine.Winsock1->State(n) != platform::sck::closed;
  return status == queue::status::pinging || status == queue::status::pinged || status == queue::status::completed;
}

control::ControlObject& Session::control() { return impl_->ctl; }

}  // namespace vintrel::host
