#pragma once
// A proxy's tunnel to a secure server: the CONNECT request and the reading
// of the proxy's answer, whose head ends where the server's bytes begin.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vintrel::http {

/// The request that asks a proxy for a tunnel to `host`:`port`, with the
/// proxy's credentials (a Proxy-Authorization value) when not empty.
std::string connect_request(std::string_view host, std::int32_t port, std::string_view proxy_authorization);

/// Where a proxy's answer to CONNECT stands, given its bytes so far.
struct TunnelAnswer {
  /// The head's length with its blank line; nothing while it has not
  /// arrived.
  std::optional<std::size_t> length;
  /// More than a response head may hold (max_header_size) without the
  /// blank line, or with it.
  bool too_large = false;
  /// The status code, once the head is complete and its status line reads
  /// "HTTP/<version> <three digits>..."; nothing for anything else.
  std::optional<int> status;
  /// The text after the code, cut to a readable length.
  std::string reason;
};

/// Reads the answer gathered so far with the response head's own reader.
TunnelAnswer read_tunnel_answer(std::string_view gathered);

}  // namespace vintrel::http
