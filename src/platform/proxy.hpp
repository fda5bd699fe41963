#pragma once
// HTTP proxies, read as curl and wget users set them: which proxy (if any)
// a connection goes through, the no_proxy list, and the two pieces of text
// a proxy exchanges with us on its own account (the CONNECT request that
// opens a tunnel, and its answer). Plain functions and values over text,
// never a socket: the socket elements route through what they say.
//
// Credentials given in a proxy's URL are kept only to be sent; nothing here
// ever puts them in a text meant to be shown (see ProxyServer::label).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vintrel::platform {

/// One HTTP proxy.
struct ProxyServer {
  /// A name or an IP literal (IPv6 without brackets).
  std::string host;
  std::uint16_t port = 1080;
  /// From the URL's user information, percent-decoded; no user, no
  /// Proxy-Authorization.
  std::optional<std::string> user;
  std::string password;

  /// "host:port" ("[v6]:port"), for messages: never the credentials.
  std::string label() const;
  /// The Proxy-Authorization value ("Basic ..."), empty without a user.
  std::string authorization() const;
};

/// Reads "[http://][user[:password]@]host[:port][/]". The port defaults to
/// 1080, as curl's does. Nothing, with the reason in `error`, for another
/// scheme or a malformed URL; the reason never repeats the credentials.
std::optional<ProxyServer> parse_proxy_url(std::string_view text, std::string& error);

/// The hosts reached directly: comma-separated names (each matching itself
/// and every name below it; a leading dot changes nothing), "*" for all, IP
/// literals, CIDR ranges ("10.0.0.0/8", "fd00::/8") and any of these with a
/// ":port" ("[::1]:8080" for IPv6) that then matches that port only. Names
/// are never resolved: an address entry matches only a URL that gives an
/// address.
class NoProxy {
 public:
  NoProxy() = default;
  /// Reads a list; entries that make no sense are left out.
  explicit NoProxy(std::string_view list);
  /// True when a connection to `host` (a name, or an address with or
  /// without brackets) on `port` goes direct.
  bool matches(std::string_view host, std::int32_t port) const;

 private:
  struct Entry {
    std::string name;                   // lowered, without dots at either end; empty for an address
    std::vector<std::uint8_t> address;  // 4 or 16 bytes for an address or range
    int prefix = -1;                    // bits of a range; -1 for one address
    std::optional<std::int32_t> port;
  };
  bool all_ = false;
  std::vector<Entry> entries_;
};

/// A source that decides the proxy server by server, such as the Windows
/// user's settings, whose auto-config script may answer differently for
/// each. Used from one thread (the platform's loop) only.
class ProxyFinder {
 public:
  virtual ~ProxyFinder() = default;
  /// The proxy for a connection to `host`:`port`, or null to go direct.
  /// The answer stays valid, and the same, for the finder's life: a
  /// request composed for a proxy must go out through that proxy.
  virtual const ProxyServer* find(std::string_view host, std::int32_t port, bool secure) = 0;
};

/// Which proxy each connection goes through.
struct ProxySettings {
  std::optional<ProxyServer> http;   // for http:// servers
  std::optional<ProxyServer> https;  // for https:// servers, through a CONNECT tunnel
  NoProxy direct;
  /// When set, decides instead of the three above.
  std::shared_ptr<ProxyFinder> finder;

  /// The proxy for a connection to `host`:`port`, or null to go direct.
  const ProxyServer* route(std::string_view host, std::int32_t port, bool secure) const;
};

/// The proxy a Windows proxy list names for http or https servers:
/// "host:port" for every scheme, or "http=host:port;https=host:port"
/// (Internet Settings' per-scheme form; auto-config answers list servers
/// to try in turn, of which the first is taken). An entry for the scheme
/// itself wins over one for every scheme; the port defaults to 80, as
/// Windows' does. Nothing when the list names no HTTP proxy for the scheme
/// (a SOCKS entry names none).
std::optional<ProxyServer> pick_windows_proxy(std::string_view list, bool secure);

/// The bypass list of Windows' Internet Settings: entries separated by ";"
/// (or "," or blanks), each a host pattern in which "*" stands for any run
/// of characters ("*.example.org", "10.*"), optionally with ":port", or
/// "<local>" for every name without a dot. Letter case does not count. As
/// with WinHTTP, loopback is not bypassed unless listed.
class ProxyBypass {
 public:
  ProxyBypass() = default;
  explicit ProxyBypass(std::string_view list);
  /// True when a connection to `host` (a name, or an address with or
  /// without brackets) on `port` goes direct.
  bool matches(std::string_view host, std::int32_t port) const;

 private:
  struct Entry {
    std::string pattern;  // lowered
    std::optional<std::int32_t> port;
  };
  bool local_ = false;
  std::vector<Entry> entries_;
};

/// What a command line says about proxies; each, when given, wins over the
/// environment.
struct ProxyOptions {
  std::optional<std::string> proxy;     // --proxy URL, for every server; "" for none
  std::optional<std::string> no_proxy;  // --no-proxy LIST
};

/// The settings of `options` and the environment, read through `lookup`
/// (std::getenv in the programs): http_proxy, then https_proxy or
/// HTTPS_PROXY, then no_proxy or NO_PROXY, lower case first. HTTP_PROXY is
/// never read: a web server's CGI puts the request's "Proxy:" header there.
/// Empty values count as unset. Nothing, with the reason in `error` naming
/// the option or variable, when a proxy URL cannot be used.
std::optional<ProxySettings> read_proxy_settings(const ProxyOptions& options,
                                                 const std::function<const char*(const char*)>& lookup,
                                                 std::string& error);

/// Error numbers of a tunnel the proxy did not open (besides the proxy's
/// own status codes, 100 to 599): its answer could not be read.
inline constexpr std::int16_t proxy_answer_unreadable = 12152;

/// True for the numbers a tunnel refused by its proxy fails with.
bool is_proxy_refusal(std::int32_t number);

}  // namespace vintrel::platform
