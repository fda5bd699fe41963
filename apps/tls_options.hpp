#pragma once
// The options every command shares for secure downloads: extra trusted
// certificates, or no checking at all, and the platform made with them.

#include <memory>
#include <string_view>

#include <CLI/CLI.hpp>

#include "platform/event_loop.hpp"
#include "platform/platform.hpp"

namespace vintrel::apps {

/// Adds --ca-file FILE and --insecure to `command`, written into `tls`.
void add_tls_options(CLI::App& command, platform::TlsOptions& tls);

/// The real platform with `tls`. A CA file OpenSSL cannot read is a usage
/// error (CLI::ValidationError); with checking off, `program` says so once
/// on standard error.
std::unique_ptr<platform::AsioPlatform> make_platform(platform::EventLoop& loop, const platform::TlsOptions& tls,
                                                      std::string_view program, platform::SocketTimeouts timeouts = {});

}  // namespace vintrel::apps
