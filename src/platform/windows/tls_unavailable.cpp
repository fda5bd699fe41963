// Secure connections on Windows: there is no TLS module for this build yet,
// so the platform offers none (https URLs are refused as on any platform
// without TLS) and a context cannot be made.

#include "platform/tls_module.hpp"

namespace vintrel::platform::tls {

std::unique_ptr<Context> load_context(const TlsOptions&, std::string& error) {
  error = "TLS is not available in the Windows build";
  return nullptr;
}

bool module_available() { return false; }

}  // namespace vintrel::platform::tls
