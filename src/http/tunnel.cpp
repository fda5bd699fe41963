#include "http/tunnel.hpp"

#include <cstdint>

#include "http/authority.hpp"
#include "http/response_header.hpp"

namespace vintrel::http {

std::string connect_request(std::string_view host, std::int32_t port, std::string_view proxy_authorization) {
  const std::string target = host_and_port(host, port);
  std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
  if (!proxy_authorization.empty()) request += "Proxy-Authorization: " + std::string(proxy_authorization) + "\r\n";
  return request + "\r\n";
}

TunnelAnswer read_tunnel_answer(std::string_view gathered) {
  TunnelAnswer answer;
  const HeadScan scan = scan_head(gathered);
  answer.too_large = scan.too_large;
  if (!scan.end) return answer;
  answer.length = *scan.end + 4;
  const ResponseHead head = read_response_head(gathered.substr(0, *scan.end));
  // Whatever else comes back (an SSH banner, a server that speaks TLS at
  // once) is no proxy's answer: only an HTTP status line with a code of
  // three digits is.
  if (!head.status_line.starts_with("HTTP/") || !head.status || *head.status < 100) return answer;
  answer.status = head.status;
  constexpr std::size_t shown = 200;
  answer.reason = head.reason.substr(0, shown);
  return answer;
}

}  // namespace vintrel::http
