#pragma once
// The server part of a URL, a proxy address or a no_proxy entry: a host
// (a name, an IPv4 address, or an IPv6 address in brackets) and an optional
// port. Every reader of such text splits it here, so that one rule holds
// for brackets, colons and port numbers everywhere.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vintrel::http {

/// A host and the port text that followed it.
struct Authority {
  std::string host;  ///< without brackets
  /// The text after the port's colon, as written (checked by read_port);
  /// nothing when there was no colon.
  std::optional<std::string> port;
  bool operator==(const Authority&) const = default;
};

/// Splits "host", "host:port", "[v6]" or "[v6]:port". An IPv6 address
/// without brackets (more than one colon) is all host, as no_proxy lists
/// write them. Nothing for an unclosed "[" or text after "]" that is not a
/// port.
std::optional<Authority> split_authority(std::string_view text);

/// A port number from its text: digits only, 1 to 65535.
std::optional<std::int32_t> read_port(std::string_view text);

/// True for an IPv6 address (bare): the only hosts holding a colon.
bool is_ipv6_literal(std::string_view host);

/// `host` as a URL or request writes it: an IPv6 address in brackets.
std::string bracketed(std::string_view host);

/// "host:port" as a proxy request names a server ("[v6]:port").
std::string host_and_port(std::string_view host, std::int32_t port);

}  // namespace vintrel::http
