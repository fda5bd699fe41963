#pragma once
// Who may drive a control through `vintrel serve`. Any page the user visits
// can open a connection to a loopback port, so a connection must come from a
// page the user chose to trust (its Origin) and must show the run's token,
// which only pages the server itself hands out (or the user pastes) know.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vintrel::web {

/// A fresh token for one run of the server: 128 random bits as hex.
std::string make_token();

/// An origin as browsers send it ("http://host[:port]"): scheme and host in
/// lower case, the scheme's default port left out. Nothing for text that is
/// not an http or https origin (a path, user info, an empty host, "null").
std::optional<std::string> normalize_origin(std::string_view text);

/// The value of `name` in the query of a request target ("/control?a=b"),
/// percent-decoded; nothing when absent.
std::optional<std::string> query_parameter(std::string_view target, std::string_view name);

/// Compares without stopping at the first difference, so the time taken
/// says nothing about how much of a guessed token was right.
bool same_secret(std::string_view a, std::string_view b);

/// The decision on one connection or request.
struct Verdict {
  bool allowed = false;
  std::string reason;  ///< Why it was refused, for the server's log.
  std::string origin;  ///< An admitted upgrade's origin, normalized.
};

/// What the gate reads of one request, plain or WebSocket upgrade.
struct Knock {
  std::optional<std::string_view> host;    ///< The Host header; nullopt when absent.
  std::optional<std::string_view> origin;  ///< The Origin header; nullopt when absent.
  std::string_view target;                 ///< The request target, with its query.
  bool upgrade = false;                    ///< A WebSocket handshake.
};

/// The rules of one server run.
class Gate {
 public:
  /// `allowed_origins` must already be normalized.
  Gate(std::string token, std::vector<std::string> allowed_origins);

  /// Called once the listening port is known: the server's own origins are
  /// http://127.0.0.1:port and http://localhost:port.
  void set_port(unsigned short port);

  const std::string& token() const { return token_; }
  const std::vector<std::string>& allowed_origins() const { return allowed_; }

  /// The one check every request passes, upgrades included. The Host must
  /// be a name the server listens under, so a page that rebinds its own
  /// name to 127.0.0.1 reaches nothing; an upgrade must besides come from
  /// an allowed origin and show the run's token (?token=).
  Verdict admit(const Knock& request) const;

 private:
  Verdict admit_host(std::optional<std::string_view> host) const;
  Verdict admit_websocket(std::optional<std::string_view> origin, std::string_view target) const;

  std::string token_;
  std::vector<std::string> allowed_;
  std::vector<std::string> own_;
  std::vector<std::string> hosts_;
};

}  // namespace vintrel::web
