// The user's proxy on Windows. Internet Settings are read once, when the
// settings are made (a thread's first control); WinHTTP asks the
// auto-config script, when there is one, about each server the first time a
// connection goes there, and the answer is kept, so that the request
// composed for a proxy and the connection that carries it agree.

#include "platform/windows/user_proxy.hpp"

#include <windows.h>

#include <winhttp.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "http/authority.hpp"
#include "platform/windows/wide_text.hpp"

namespace vintrel::platform {

namespace {

// The text WinHTTP handed over, which is ours to free.
std::string take(LPWSTR text) {
  if (text == nullptr) return {};
  std::string out = windows::to_utf8(text);
  GlobalFree(text);
  return out;
}

// The proxy variables as the process has them now: the C library's copy
// is the one it started with.
std::optional<ProxySettings> environment_settings() {
  std::map<std::string, std::string> values;
  for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"}) {
    const std::wstring wide = windows::to_wide(name);
    const DWORD size = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (size == 0) continue;
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wide.c_str(), value.data(), size);
    if (length == 0 || length >= size) continue;
    value.resize(length);
    values[name] = windows::to_utf8(value);
  }
  std::string ignored;
  return read_proxy_settings(
      {},
      [&values](const char* name) -> const char* {
        const auto it = values.find(name);
        return it != values.end() ? it->second.c_str() : nullptr;
      },
      ignored);
}

class UserProxyFinder final : public ProxyFinder {
 public:
  UserProxyFinder() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (WinHttpGetIEProxyConfigForCurrentUser(&config)) {
      auto_detect_ = config.fAutoDetect != FALSE;
      script_ = take(config.lpszAutoConfigUrl);
      fixed_ = take(config.lpszProxy);
      bypass_ = ProxyBypass(take(config.lpszProxyBypass));
    }
    // A proxy variable that cannot be used (another scheme than http)
    // leaves the environment out, as a host has no way to tell the user.
    if (fixed_.empty() && script_.empty()) {
      if (auto settings = environment_settings()) environment_ = std::move(*settings);
    }
  }
  ~UserProxyFinder() override {
    if (session_ != nullptr) WinHttpCloseHandle(session_);
  }

  UserProxyFinder(const UserProxyFinder&) = delete;
  UserProxyFinder& operator=(const UserProxyFinder&) = delete;

  const ProxyServer* find(std::string_view host, std::int32_t port, bool secure) override {
    auto key = std::make_tuple(std::string(host), port, secure);
    auto it = found_.find(key);
    if (it == found_.end()) it = found_.emplace(std::move(key), decide(host, port, secure)).first;
    return it->second ? &*it->second : nullptr;
  }

 private:
  std::optional<ProxyServer> decide(std::string_view host, std::int32_t port, bool secure) {
    if (auto answer = from_script(host, port, secure)) return *answer;
    if (!fixed_.empty()) {
      if (bypass_.matches(host, port)) return std::nullopt;
      return pick_windows_proxy(fixed_, secure);
    }
    // A script address that gave nothing is still the user's choice over
    // the variables; auto-detection alone is every Windows' default.
    if (script_.empty()) {
      if (const ProxyServer* proxy = environment_.route(host, port, secure)) return *proxy;
    }
    return std::nullopt;
  }

  // What the auto-config script says for the server (nothing inside for
  // direct), or nothing when there is no script to be had.
  std::optional<std::optional<ProxyServer>> from_script(std::string_view host, std::int32_t port, bool secure) {
    if (no_script_ || (!auto_detect_ && script_.empty())) return std::nullopt;
    if (session_ == nullptr) {
      session_ =
          WinHttpOpen(L"Vintrel", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    }
    if (session_ == nullptr) {
      no_script_ = true;
      return std::nullopt;
    }
    WINHTTP_AUTOPROXY_OPTIONS options{};
    const std::wstring script = windows::to_wide(script_);
    if (!script_.empty()) {
      options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = script.c_str();
    }
    if (auto_detect_) {
      options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    // The script sees the server, never the path: a connection is all
    // that is routed.
    const std::wstring url =
        windows::to_wide((secure ? "https://" : "http://") + http::host_and_port(host, port) + "/");
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetProxyForUrl(session_, url.c_str(), &options, &info)) {
      // Detection that found nothing, or a script that cannot be had,
      // would only keep the next server waiting as long again.
      no_script_ = true;
      return std::nullopt;
    }
    const std::string list = take(info.lpszProxy);
    const ProxyBypass bypass(take(info.lpszProxyBypass));
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || bypass.matches(host, port)) {
      return std::optional<ProxyServer>();
    }
    return std::optional<ProxyServer>(pick_windows_proxy(list, secure));
  }

  bool auto_detect_ = false;
  std::string script_;  // the auto-config script's address
  std::string fixed_;   // the proxy list
  ProxyBypass bypass_;
  ProxySettings environment_;
  HINTERNET session_ = nullptr;
  bool no_script_ = false;
  // Answers by server: node-based, so that the proxies handed out stay put.
  std::map<std::tuple<std::string, std::int32_t, bool>, std::optional<ProxyServer>> found_;
};

}  // namespace

ProxySettings user_proxy_settings() {
  ProxySettings settings;
  settings.finder = std::make_shared<UserProxyFinder>();
  return settings;
}

}  // namespace vintrel::platform
