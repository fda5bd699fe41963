#pragma once
// The proxy every Windows program of the user goes through: what Internet
// Settings say, else the proxy variables the Linux build reads.

#include "platform/proxy.hpp"

namespace vintrel::platform {

/// Settings that route each connection as the user's Windows settings say
/// (WinHttpGetIEProxyConfigForCurrentUser, read once here): an auto-config
/// script, given by address or found by auto-detection, asked through
/// WinHTTP for each server; else the fixed proxy for the scheme, unless the
/// bypass list names the server. When the settings name no proxy, no
/// script address, and auto-detection finds no script, http_proxy,
/// https_proxy and no_proxy decide as on Linux.
ProxySettings user_proxy_settings();

}  // namespace vintrel::platform
