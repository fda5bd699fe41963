#pragma once
// The trust settings of one platform, shared by every secure connection of
// every socket array it makes.

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/sockets.hpp"
#include "platform/tls_module.hpp"

namespace vintrel::platform {

/// One module context holds the trust store for every connection. It is
/// made on the first secure connection, so a run that fetches only plain
/// http never loads the TLS module nor reads the store; a CA file given by
/// the user is read at once, so a bad one is told before anything is
/// fetched.
class TlsContext {
 public:
  /// Throws std::runtime_error when `options.ca_file` cannot be read.
  explicit TlsContext(TlsOptions options) : options_(std::move(options)) {
    if (!options_.ca_file.empty() && context() == nullptr) throw std::runtime_error(error_);
  }

  /// The context, or null when it cannot be made (see `error`).
  tls::Context* context() {
    if (!context_ && error_.empty()) context_ = tls::load_context(options_, error_);
    return context_.get();
  }
  /// Why the context could not be made.
  const std::string& error() const { return error_; }

 private:
  TlsOptions options_;
  std::unique_ptr<tls::Context> context_;
  std::string error_;
};

}  // namespace vintrel::platform
