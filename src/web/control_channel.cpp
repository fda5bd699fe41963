#include "web/control_channel.hpp"

#include <optional>
#include <string>
#include <utility>

#include "control/type_library.hpp"
#include "host/session.hpp"
#include "host/values.hpp"
#include "platform/automation.hpp"

namespace vintrel::web {

namespace {

using host::Json;

// Members whose value becomes a path the control writes files at.
bool names_a_local_path(std::string_view member) {
  return platform::same_name(member, "sBuffer") || platform::same_name(member, "localfilename");
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

class ControlChannel final : public Channel {
 public:
  ControlChannel(platform::Platform& platform, Outlet outlet, const ControlChannelOptions& options)
      : outlet_(std::move(outlet)),
        session_(platform, [this](const std::string& line) { outlet_.send(line); },
                 host::SessionOptions{options.dialog, options.allow_open, options.tick_interval,
                                      options.eager_ticks}) {}

  void receive(std::string_view message) override {
    if (session_.closed()) return;
    // Read with the session's depth limit: a page's message must not
    // build a tree deeper than the session itself would accept.
    const host::ParsedLine parsed = host::parse_line(message);
    if (parsed.ok()) {
      const Json& request = parsed.value;
      if (const auto why = refusal(request)) {
        Json id = request.contains("id") ? request["id"] : Json(nullptr);
        outlet_.send(host::dump_line(Json{
            {"id", id},
            {"error", {{"number", host::protocol_error::refused}, {"source", "Vintrel.Web"},
                       {"description", "Permission denied: " + *why}}}}));
        return;
      }
    }
    session_.handle(message);
    if (session_.closed()) outlet_.close();
  }

  void peer_gone() override { session_.close(); }
  bool idle() const override { return !session_.busy() && !session_.transferring(); }

 private:
  Outlet outlet_;
  host::Session session_;
};

}  // namespace

std::unique_ptr<Channel> make_control_channel(platform::Platform& platform, Outlet outlet,
                                              const ControlChannelOptions& options) {
  return std::make_unique<ControlChannel>(platform, std::move(outlet), options);
}

}  // namespace vintrel::web
