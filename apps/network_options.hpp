#pragma once
// The options every command shares for reaching servers: extra trusted
// certificates or no checking at all, the proxy and the hosts reached
// without it, and the platform made with them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/event_loop.hpp"
#include "platform/platform.hpp"

namespace vintrel::apps {

/// Adds --ca-file FILE and --insecure to `command`, written into `tls`.
void add_tls_options(CLI::App& command, platform::TlsOptions& tls);

/// Adds --proxy URL and --no-proxy LIST to `command`, written into `proxy`.
void add_proxy_options(CLI::App& command, platform::ProxyOptions& proxy);

/// What the user adds to every request: a client name and header lines.
struct RequestHeaderOptions {
  std::string user_agent;
  std::vector<std::string> headers;
};

/// Adds --user-agent TEXT and --header "Name: value" (repeatable) to
/// `command`, written into `added`. A line end or another control byte, a
/// name that is not a token, or a header the control writes itself is a
/// usage error.
void add_request_header_options(CLI::App& command, RequestHeaderOptions& added);

/// The lines `added` puts into every request, each ending in CRLF; empty
/// when nothing was added. Only for options add_request_header_options
/// has checked.
std::string request_header_lines(const RequestHeaderOptions& added);

/// A rate as curl writes it: bytes per second, or with a suffix k, M or G
/// (any case; powers of 1024) and perhaps a fraction ("500k", "1.5M").
/// Nothing, with `why` set, for anything else or a rate of 2 GiB/s or
/// more; "0" is no cap.
std::optional<std::int32_t> parse_rate(std::string_view text, std::string& why);

/// Adds --limit-rate RATE to `command`, written into `rate` in bytes per
/// second; a rate parse_rate refuses is a usage error.
void add_rate_option(CLI::App& command, std::int32_t& rate, const std::string& description);

/// The real platform with `tls`, and the proxies of `proxy` and the
/// environment. A CA file OpenSSL cannot read, or a proxy URL that cannot
/// be used, is a usage error (CLI::ValidationError); with checking off,
/// `program` says so once on standard error.
std::unique_ptr<platform::AsioPlatform> make_platform(platform::EventLoop& loop, const platform::TlsOptions& tls,
                                                      const platform::ProxyOptions& proxy, std::string_view program,
                                                      platform::SocketTimeouts timeouts = {});

}  // namespace vintrel::apps
