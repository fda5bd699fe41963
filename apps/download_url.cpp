#include "apps/download_url.hpp"

#include "http/authority.hpp"
#include "http/url.hpp"
#include "text/text.hpp"

namespace vintrel::apps {

namespace {

// The scheme's length with its "://", when it is http or https in any case.
std::size_t scheme_length(std::string_view url) {
  for (const std::string_view scheme : {"http://", "https://"})
    if (url.size() >= scheme.size() && text::lower_ascii(url.substr(0, scheme.size())) == scheme) return scheme.size();
  return 0;
}

}  // namespace

std::string control_url(std::string_view url) {
  // The control strips exactly "http://", and would send a fragment to the
  // server as part of the path.
  const std::size_t scheme = scheme_length(url);
  std::string out = text::lower_ascii(url.substr(0, scheme)) + std::string(url.substr(scheme));
  return out.substr(0, out.find('#'));
}

std::optional<DownloadUrl> parse_download_url(std::string_view url, std::string& why) {
  const std::size_t scheme = scheme_length(url);
  if (scheme == 0) {
    why = "only http:// and https:// URLs can be downloaded";
    return std::nullopt;
  }
  // It would reach the request line and the Host field, where a line end
  // starts a header of its own.
  if (const auto at = text::find_control(url); at != std::string_view::npos) {
    why = "the URL holds a " + text::control_name(url[at]);
    return std::nullopt;
  }
  const std::string_view rest = url.substr(scheme);
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.find('@') != std::string_view::npos) {
    why = "user names in URLs are not supported";
    return std::nullopt;
  }
  const auto server = http::split_authority(authority);
  if (!server || server->host.empty() || (http::is_ipv6_literal(server->host) && !authority.starts_with('['))) {
    why = server && !server->host.empty() ? "an IPv6 address goes in brackets" : "the URL names no server";
    return std::nullopt;
  }
  // The control reads an empty port as no number at all.
  if (server->port && !http::read_port(*server->port)) {
    why = "the port must be a number from 1 to 65535";
    return std::nullopt;
  }
  const auto parts = http::parse_http_url(control_url(url));
  if (!parts) {
    why = "the URL names no server";
    return std::nullopt;
  }
  DownloadUrl result;
  result.server = parts->host;
  result.port = parts->port;
  result.host = http::host_field(result.server, result.port, parts->secure);
  result.path = parts->path;
  result.secure = parts->secure;
  const std::string_view without_query = std::string_view(result.path).substr(0, result.path.find('?'));
  result.file_name = std::string(without_query.substr(without_query.rfind('/') + 1));
  if (result.file_name.empty() || result.file_name == "." || result.file_name == "..") {
    why = "the URL names no file";
    return std::nullopt;
  }
  return result;
}

}  // namespace vintrel::apps
