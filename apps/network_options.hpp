#pragma once
// The options every command shares for reaching servers: extra trusted
// certificates or no checking at all, the proxy and the hosts reached
// without it, and the platform made with them.

#include <memory>
#include <string_view>

#include <CLI/CLI.hpp>

#include "platform/event_loop.hpp"
#include "platform/platform.hpp"

namespace vintrel::apps {

/// Adds --ca-file FILE and --insecure to `command`, written into `tls`.
void add_tls_options(CLI::App& command, platform::TlsOptions& tls);

/// Adds --proxy URL and --no-proxy LIST to `command`, written into `proxy`.
void add_proxy_options(CLI::App& command, platform::ProxyOptions& proxy);

/// The real platform with `tls`, and the proxies of `proxy` and the
/// environment. A CA file OpenSSL cannot read, or a proxy URL that cannot
/// be used, is a usage error (CLI::ValidationError); with checking off,
/// `program` says so once on standard error.
std::unique_ptr<platform::AsioPlatform> make_platform(platform::EventLoop& loop, const platform::TlsOptions& tls,
                                                      const platform::ProxyOptions& proxy, std::string_view program,
                                                      platform::SocketTimeouts timeouts = {});

}  // namespace vintrel::apps
