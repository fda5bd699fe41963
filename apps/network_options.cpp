#include "apps/network_options.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "http/request_header.hpp"
#include "text/text.hpp"

namespace vintrel::apps {

void add_tls_options(CLI::App& command, platform::TlsOptions& tls) {
  command.add_option("--ca-file", tls.ca_file, "Also trust the PEM certificates in FILE for https servers")
      ->type_name("FILE")
      ->check(CLI::ExistingFile);
  command.add_flag_callback(
      "--insecure", [&tls] { tls.verify = false; },
      "Do not check https servers' certificates (anyone on the way can read and change the files)");
}

void add_proxy_options(CLI::App& command, platform::ProxyOptions& proxy) {
  command
      .add_option_function<std::string>(
          "--proxy", [&proxy](const std::string& url) { proxy.proxy = url; },
          "Go through the HTTP proxy at URL (http://[user:pass@]host[:port]) instead of the environment's")
      ->type_name("URL");
  command
      .add_option_function<std::string>(
          "--no-proxy", [&proxy](const std::string& list) { proxy.no_proxy = list; },
          "Hosts reached directly: comma-separated names, domain suffixes, IP addresses, CIDR ranges, host:port, "
          "or * for all")
      ->type_name("LIST");
}

void add_request_header_options(CLI::App& command, RequestHeaderOptions& added) {
  command
      .add_option("--user-agent", added.user_agent,
                  "Name the client as TEXT in a \"User-Agent:\" line (by default no such line is sent)")
      ->type_name("TEXT")
      ->check(CLI::Validator(
          [](const std::string& value) {
            const auto at = text::find_control(value);
            return at == std::string::npos ? std::string() : "holds a " + text::control_name(value[at]);
          },
          ""));
  command
      .add_option("-H,--header", added.headers,
                  "Add the line \"Name: value\" to every request, after Vintrel's own (repeatable); Host, Range, "
                  "If-Range, Connection and the lines other options write cannot be replaced")
      ->type_name("LINE")
      ->allow_extra_args(false)
      ->check(CLI::Validator(
          [](const std::string& value) {
            std::string why;
            return http::parse_extra_header(value, why) ? std::string() : why;
          },
          ""));
}

std::optional<std::int32_t> parse_rate(std::string_view text, std::string& why) {
  std::size_t digits = 0;
  while (digits < text.size() && (std::isdigit(static_cast<unsigned char>(text[digits])) || text[digits] == '.'))
    ++digits;
  std::string_view number = text.substr(0, digits);
  const std::string_view suffix = text.substr(digits);
  double unit = 1;
  if (suffix.size() == 1) {
    switch (suffix[0]) {
      case 'k':
      case 'K':
        unit = 1024.0;
        break;
      case 'm':
      case 'M':
        unit = 1024.0 * 1024;
        break;
      case 'g':
      case 'G':
        unit = 1024.0 * 1024 * 1024;
        break;
      default:
        unit = 0;
    }
  }
  // One point at most, with a digit on at least one side of it.
  const bool numeric = !number.empty() && number.find('.') == number.rfind('.') && number != ".";
  if (!numeric || unit == 0 || suffix.size() > 1) {
    why = "\"" + std::string(text) + "\" is not a rate: give bytes per second, or a number with k, M or G";
    return std::nullopt;
  }
  const double rate = std::strtod(std::string(number).c_str(), nullptr) * unit;
  if (rate >= 2147483648.0) {
    why = "\"" + std::string(text) + "\" is too high a rate: at most 2047M";
    return std::nullopt;
  }
  // A fraction of a byte rounds up: "0.0001k" still caps, it does not lift.
  return static_cast<std::int32_t>(std::ceil(rate));
}

void add_rate_option(CLI::App& command, std::int32_t& rate, const std::string& description) {
  command
      .add_option_function<std::string>(
          "--limit-rate",
          [&rate](const std::string& value) {
            std::string why;
            const auto parsed = parse_rate(value, why);
            if (!parsed) throw CLI::ValidationError("--limit-rate", why);
            rate = *parsed;
          },
          description)
      ->type_name("RATE");
}

std::string request_header_lines(const RequestHeaderOptions& added) {
  std::vector<http::ExtraHeader> headers;
  for (const std::string& line : added.headers) {
    std::string why;
    if (auto header = http::parse_extra_header(line, why)) headers.push_back(std::move(*header));
  }
  return http::extra_header_lines(added.user_agent, headers);
}

std::unique_ptr<platform::AsioPlatform> make_platform(platform::EventLoop& loop, const platform::TlsOptions& tls,
                                                      const platform::ProxyOptions& proxy, std::string_view program,
                                                      platform::SocketTimeouts timeouts) {
  std::string problem;
  std::optional<platform::ProxySettings> proxies = platform::read_proxy_settings(
      proxy, [](const char* name) { return std::getenv(name); }, problem);
  // Going direct when the proxy asked for cannot be used would bypass it.
  if (!proxies) throw CLI::ValidationError(problem);
  std::unique_ptr<platform::AsioPlatform> machine;
  try {
    machine = std::make_unique<platform::AsioPlatform>(loop, nullptr, timeouts, tls, std::move(*proxies));
  } catch (const std::runtime_error& error) {
    throw CLI::ValidationError("--ca-file " + tls.ca_file, error.what());
  }
  if (!tls.verify)
    std::cerr << program << ": warning: --insecure: https servers' certificates are not checked\n" << std::flush;
  return machine;
}

}  // namespace vintrel::apps
