#include "platform/proxy.hpp"

#include <algorithm>

#include "http/authority.hpp"
#include "platform/asio.hpp"
#include "platform/platform.hpp"
#include "text/text.hpp"

namespace vintrel::platform {

namespace {

std::string_view unbracketed(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
  return host;
}

// The address's bytes in network order: 4 for IPv4, 16 for IPv6.
std::optional<std::vector<std::uint8_t>> address_bytes(std::string_view text) {
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(std::string(unbracketed(text)), ec);
  if (ec) return std::nullopt;
  if (address.is_v4()) {
    const auto bytes = address.to_v4().to_bytes();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  }
  const auto bytes = address.to_v6().to_bytes();
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool same_prefix(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int bits) {
  if (a.size() != b.size()) return false;
  std::size_t i = 0;
  for (; bits >= 8; bits -= 8, ++i) {
    if (a[i] != b[i]) return false;
  }
  if (bits == 0) return true;
  const auto mask = static_cast<std::uint8_t>(0xFF << (8 - bits));
  return (a[i] & mask) == (b[i] & mask);
}

// A name as it is compared: lowered, without the dots that may start it
// (".example.com") or end it (the root's "example.com.").
std::string comparable_name(std::string_view name) { return text::lower_ascii(text::trim(name, ".")); }

}  // namespace

std::string ProxyServer::label() const { return http::host_and_port(host, port); }

std::string ProxyServer::authorization() const {
  if (!user) return {};
  return "Basic " + text::base64_encode(*user + ":" + password);
}

std::optional<ProxyServer> parse_proxy_url(std::string_view text, std::string& error) {
  text = text::trim(text);
  if (const auto scheme_end = text.find("://"); scheme_end != std::string_view::npos) {
    const std::string scheme = text::lower_ascii(text.substr(0, scheme_end));
    // A secure or SOCKS proxy would need a protocol of its own; going
    // direct instead would bypass what the user asked for.
    if (scheme != "http") {
      error = "unsupported proxy scheme \"" + scheme + "\" (only http:// proxies are supported)";
      return std::nullopt;
    }
    text.remove_prefix(scheme_end + 3);
  }
  text = text.substr(0, text.find('/'));
  ProxyServer proxy;
  if (const auto at = text.rfind('@'); at != std::string_view::npos) {
    const std::string_view info = text.substr(0, at);
    const auto colon = info.find(':');
    proxy.user = text::percent_decode(info.substr(0, colon));
    if (colon != std::string_view::npos) proxy.password = text::percent_decode(info.substr(colon + 1));
    text.remove_prefix(at + 1);
  }
  const auto server = http::split_authority(text);
  if (!server) {
    error = "proxy address has an unclosed \"[\" or text after \"]\"";
    return std::nullopt;
  }
  if (server->host.empty()) {
    error = "proxy URL names no host";
    return std::nullopt;
  }
  proxy.host = server->host;
  if (server->port && !server->port->empty()) {
    const auto number = http::read_port(*server->port);
    if (!number) {
      error = "proxy port is not a number from 1 to 65535";
      return std::nullopt;
    }
    proxy.port = static_cast<std::uint16_t>(*number);
  }
  return proxy;
}

NoProxy::NoProxy(std::string_view list) {
  for (const std::string& piece : text::split(list, ",")) {
    std::string_view item = text::trim(piece, " \t\r\n");
    if (item.empty()) continue;
    if (item == "*") {
      all_ = true;
      continue;
    }
    Entry entry;
    const auto server = http::split_authority(item);
    if (!server) continue;
    if (server->port && !(entry.port = http::read_port(*server->port))) continue;
    const std::string host = server->host;
    item = host;
    std::string_view address = item;
    if (const auto slash = item.find('/'); slash != std::string_view::npos) {
      address = item.substr(0, slash);
      const auto bits = http::read_port(item.substr(slash + 1));
      const std::string_view length = item.substr(slash + 1);
      if (length == "0") {
        entry.prefix = 0;
      } else if (bits) {
        entry.prefix = *bits;
      } else {
        continue;
      }
    }
    if (auto bytes = address_bytes(address)) {
      entry.address = std::move(*bytes);
      if (entry.prefix > static_cast<int>(entry.address.size() * 8)) continue;
    } else {
      if (entry.prefix >= 0) continue;
      entry.name = comparable_name(item);
      if (entry.name.empty()) continue;
    }
    entries_.push_back(std::move(entry));
  }
}

bool NoProxy::matches(std::string_view host, std::int32_t port) const {
  if (all_) return true;
  const std::string name = comparable_name(unbracketed(host));
  const auto address = address_bytes(host);
  for (const Entry& entry : entries_) {
    if (entry.port && *entry.port != port) continue;
    if (!entry.name.empty()) {
      if (name == entry.name || (name.size() > entry.name.size() && name.ends_with(entry.name) &&
                                 name[name.size() - entry.name.size() - 1] == '.')) {
        return true;
      }
      continue;
    }
    if (!address) continue;
    const int bits = entry.prefix >= 0 ? entry.prefix : static_cast<int>(entry.address.size() * 8);
    if (same_prefix(*address, entry.address, bits)) return true;
  }
  return false;
}

const ProxyServer* ProxySettings::route(std::string_view host, std::int32_t port, bool secure) const {
  if (finder) return finder->find(host, port, secure);
  const std::optional<ProxyServer>& proxy = secure ? https : http;
  if (!proxy || direct.matches(host, port)) return nullptr;
  return &*proxy;
}

std::optional<ProxySettings> read_proxy_settings(const ProxyOptions& options,
                                                 const std::function<const char*(const char*)>& lookup,
                                                 std::string& error) {
  auto variable = [&](std::initializer_list<const char*> names) -> std::pair<std::string, const char*> {
    for (const char* name : names) {
      const char* value = lookup(name);
      if (value != nullptr && *value != '\0') return {value, name};
    }
    return {{}, nullptr};
  };
  auto parsed = [&](const std::string& url, const std::string& source, std::optional<ProxyServer>& into) {
    if (url.empty()) return true;
    std::string reason;
    into = parse_proxy_url(url, reason);
    if (!into) error = source + ": " + reason;
    return into.has_value();
  };

  ProxySettings settings;
  if (options.proxy) {
    if (!parsed(*options.proxy, "--proxy", settings.http)) return std::nullopt;
    settings.https = settings.http;
  } else {
    const auto [http, http_name] = variable({"http_proxy"});
    if (!parsed(http, "http_proxy", settings.http)) return std::nullopt;
    const auto [https, https_name] = variable({"https_proxy", "HTTPS_PROXY"});
    if (!parsed(https, https_name != nullptr ? https_name : "", settings.https)) return std::nullopt;
  }
  const std::string list = options.no_proxy ? *options.no_proxy : variable({"no_proxy", "NO_PROXY"}).first;
  settings.direct = NoProxy(list);
  return settings;
}

namespace {

// "host[:port]" of one Windows list entry, or nothing when it is not a
// plain HTTP proxy's.
std::optional<ProxyServer> windows_entry(std::string_view text) {
  if (const auto scheme_end = text.find("://"); scheme_end != std::string_view::npos) {
    if (text::lower_ascii(text.substr(0, scheme_end)) != "http") return std::nullopt;
    text.remove_prefix(scheme_end + 3);
  }
  text = text.substr(0, text.find('/'));
  if (text.find('@') != std::string_view::npos) return std::nullopt;
  const auto server = http::split_authority(text);
  if (!server || server->host.empty()) return std::nullopt;
  // Windows' default port, where curl's (which parse_proxy_url follows)
  // is 1080.
  std::string ignored;
  return parse_proxy_url(http::bracketed(server->host) + ":" + server->port.value_or("80"), ignored);
}

std::vector<std::string_view> windows_list_items(std::string_view list) {
  std::vector<std::string_view> items;
  std::size_t start = 0;
  while (start < list.size()) {
    const auto end = std::min(list.find_first_of("; \t\r\n,", start), list.size());
    if (end > start) items.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

// Glob matching with "*" for any run of characters, over lowered text.
bool glob(std::string_view pattern, std::string_view text) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

std::optional<ProxyServer> pick_windows_proxy(std::string_view list, bool secure) {
  const std::string_view wanted = secure ? "https" : "http";
  std::optional<ProxyServer> for_all;
  for (const std::string_view item : windows_list_items(list)) {
    const auto equals = item.find('=');
    if (equals == std::string_view::npos) {
      if (!for_all) for_all = windows_entry(item);
      continue;
    }
    if (text::lower_ascii(item.substr(0, equals)) != wanted) continue;
    if (auto proxy = windows_entry(item.substr(equals + 1))) return proxy;
  }
  return for_all;
}

ProxyBypass::ProxyBypass(std::string_view list) {
  for (std::string_view item : windows_list_items(list)) {
    std::string lowered = text::lower_ascii(item);
    if (lowered == "<local>") {
      local_ = true;
      continue;
    }
    // Other tokens in angle brackets ("<-loopback>") name no host.
    if (lowered.starts_with('<')) continue;
    std::string_view pattern = lowered;
    if (const auto scheme_end = pattern.find("://"); scheme_end != std::string_view::npos) {
      pattern.remove_prefix(scheme_end + 3);
    }
    const auto server = http::split_authority(pattern);
    if (!server || server->host.empty()) continue;
    Entry entry;
    if (server->port && !(entry.port = http::read_port(*server->port))) continue;
    entry.pattern = server->host;
    entries_.push_back(std::move(entry));
  }
}

bool ProxyBypass::matches(std::string_view host, std::int32_t port) const {
  const std::string name = text::lower_ascii(unbracketed(host));
  if (local_ && name.find('.') == std::string::npos && !http::is_ipv6_literal(name)) return true;
  return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
    return (!entry.port || *entry.port == port) && glob(entry.pattern, name);
  });
}

const ProxyServer* Platform::proxy_for(std::string_view, std::int32_t, bool) const { return nullptr; }

// NOLINTNEXTLINE(performance-unnecessary-value-param): overriders keep `gone`
bool Platform::preconnect(const std::string&, std::int32_t, bool, std::function<void(SpareEnd)>) { return false; }

bool is_proxy_refusal(std::int32_t number) {
  return (number >= 100 && number <= 599) || number == proxy_answer_unreadable;
}

}  // namespace vintrel::platform
