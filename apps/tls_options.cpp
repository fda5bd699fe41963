#include "apps/tls_options.hpp"

#include <iostream>
#include <stdexcept>
#include <string>

namespace vintrel::apps {

void add_tls_options(CLI::App& command, platform::TlsOptions& tls) {
  command.add_option("--ca-file", tls.ca_file, "Also trust the PEM certificates in FILE for https servers")
      ->type_name("FILE")
      ->check(CLI::ExistingFile);
  command.add_flag_callback(
      "--insecure", [&tls] { tls.verify = false; },
      "Do not check https servers' certificates (anyone on the way can read and change the files)");
}

std::unique_ptr<platform::AsioPlatform> make_platform(platform::EventLoop& loop, const platform::TlsOptions& tls,
                                                      std::string_view program, platform::SocketTimeouts timeouts) {
  std::unique_ptr<platform::AsioPlatform> machine;
  try {
    machine = std::make_unique<platform::AsioPlatform>(loop, nullptr, timeouts, tls);
  } catch (const std::runtime_error& error) {
    throw CLI::ValidationError("--ca-file " + tls.ca_file, error.what());
  }
  if (!tls.verify)
    std::cerr << program << ": warning: --insecure: https servers' certificates are not checked\n" << std::flush;
  return machine;
}

}  // namespace vintrel::apps
