#include "queue/added_url.hpp"

#include "automation/automation.hpp"
#include "http/authority.hpp"
#include "text/text.hpp"

namespace vintrel::queue {

namespace {

constexpr std::string_view http_prefix = "http://";
constexpr std::string_view https_prefix = "https://";

bool starts_with_https(const std::string& url) {
  return url.size() >= https_prefix.size() && automation::same_name(std::string_view(url).substr(0, 8), https_prefix);
}

}  // namespace

AddedUrl split_added_url(const std::string& url, bool tls) {
  AddedUrl parts;
  std::string U;
  if (tls && starts_with_https(url)) {
    // Only the scheme goes: an "http://" further on belongs to the path or
    // query of a secure URL.
    parts.secure = true;
    U = url.substr(https_prefix.size());
  } else {
    // Only the scheme goes: an "http://" further on is part of the path
    // or query ("/x?u=http://b/y").
    U = url.starts_with(http_prefix) ? url.substr(http_prefix.size()) : url;
  }
  const auto segments = text::split(U, "/");
  if (segments.empty()) return parts;
  parts.hasServer = true;
  const std::string& F = segments.front();
  parts.lastSegment = segments.back();
  parts.remotePath = U.substr(F.size());
  const char* default_port = parts.secure ? "443" : "80";

  if (const auto server = http::split_authority(F)) {
    parts.servName = server->host;
    parts.portText = server->port ? *server->port : default_port;
  } else {
    // An unclosed "[" or text after "]": no port can be read, and the
    // queue start fails the URL as one whose port is not a number.
    parts.servName = F;
  }
  return parts;
}

}  // namespace vintrel::queue
