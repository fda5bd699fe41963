#pragma once
// A real nginx on a loopback port, for end-to-end tests that want a well
// behaved server: ranges, keep-alive, sendfile and rate limits as a real
// deployment does them. Every file nginx writes (config, logs, pid, temp
// folders) lives in the server's own temporary folder, so tests never touch
// the system's nginx setup and may run several servers side by side.
//
// The server is a separate process, so it is independent of whatever event
// loop the test drives; nothing here needs to be called from a given thread,
// but one object is not meant to be used from two threads at once.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_folder.hpp"

namespace vintrel::testing {

/// One line of the access log. Fields nginx logs as "-" (absent) read as "";
/// \xHH escapes are decoded.
struct AccessLogEntry {
  std::string request;  ///< The request line, e.g. "GET /x HTTP/1.1".
  int status = 0;
  std::int64_t body_bytes_sent = 0;
  double request_time = 0.0;  ///< Seconds.
  std::string referer;
  std::string cookie;
  std::string range;  ///< The Range header as sent.
  /// When the response ended, in seconds since the epoch; it began
  /// `request_time` before.
  double finished = 0.0;
  /// Whether the TLS connection resumed a session instead of a full
  /// handshake (nginx's $ssl_session_reused); false over plain http.
  bool session_reused = false;
};

struct NginxOptions {
  /// The folder served; a folder inside the server's temporary folder when
  /// empty.
  std::string root;
  /// Raw `location ... { ... }` blocks added to the server block as written.
  std::vector<std::string> extra_locations;
  /// Bytes per second for every response when > 0.
  std::int64_t limit_rate = 0;
  /// Serves https with this certificate file (PEM; the chain to send) and
  /// key when both are set.
  std::string tls_cert;
  std::string tls_key;
  /// The TLS versions offered (ssl_protocols).
  std::string tls_protocols = "TLSv1.2 TLSv1.3";
  /// Raw directives added to the server block as written, such as
  /// "ssl_session_tickets off;".
  std::vector<std::string> extra_directives;
  /// Listens on [::1] as well, on the same port (see url_ipv6()).
  bool listen_ipv6 = false;
};

class NginxServer {
 public:
  using Options = NginxOptions;

  /// Whether an nginx binary is there to run (/usr/sbin/nginx or on PATH).
  static bool available();
  /// Why available() is false, for a test's skip message ("" when available).
  static std::string why_unavailable();

  explicit NginxServer(Options options = {});
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  /// Starts nginx and returns once its port accepts connections. The first
  /// start picks a free loopback port; later starts reuse it. Does nothing
  /// when already running. Throws std::runtime_error, with nginx's error log,
  /// when nginx does not come up.
  void start();
  /// Ends nginx: SIGTERM, then SIGKILL if it has not exited within a few
  /// seconds. Does nothing when not running.
  void stop();
  /// stop() then start() on the same port: "server down, then up again".
  void restart();
  bool running() const { return pid_ > 0; }

  /// The listening port; 0 before the first start().
  std::uint16_t port() const { return port_; }
  /// "http://127.0.0.1:<port><path>" ("https://" when serving TLS);
  /// `path` starts with '/'.
  std::string url(std::string_view path) const;
  /// The same on "[::1]"; needs `listen_ipv6`.
  std::string url_ipv6(std::string_view path) const;
  /// Whether this machine has a usable ::1 to listen on.
  static bool has_ipv6_loopback();
  /// The folder served.
  const std::string& root() const { return root_; }
  /// The full path of `name` inside the served folder.
  std::string file(std::string_view name) const;

  /// The access log so far, in the order nginx finished the requests.
  std::vector<AccessLogEntry> access_log() const;
  /// nginx logs a request only once it has sent the response, so a client
  /// that has read a whole body may look before the line is there; this
  /// waits until at least `count` entries are logged or `timeout` passes,
  /// and returns what is there then.
  std::vector<AccessLogEntry> wait_for_access_log(std::size_t count,
                                                  std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  /// nginx's error log, for failure messages.
  std::string error_log() const;

 private:
  bool try_start(std::string& failure);
  void write_config() const;

  Options options_;
  TempFolder folder_;
  std::string root_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

/// `n` deterministic pseudo-random bytes; the same seed gives the same bytes,
/// and a shorter result is a prefix of a longer one.
std::string random_bytes(std::size_t n, std::uint32_t seed);
/// Writes random_bytes(size, seed) to `path`, in large blocks so that files
/// of hundreds of megabytes are quick to make.
void make_file(const std::string& path, std::uint64_t size, std::uint32_t seed);

}  // namespace vintrel::testing
