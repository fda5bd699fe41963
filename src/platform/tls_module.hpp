#pragma once
// The secure layer of socket elements. On Linux it lives in a module of its
// own, libvintrel_tls.so, loaded on the first secure connection: OpenSSL's
// libraries cost a run about 2 MiB of memory just by being mapped, and most
// runs fetch plain http only. On Windows it is the system's Schannel, which
// every Windows has, built into the platform layer.
//
// A session runs straight over the connected socket, which the caller has
// made non-blocking; the caller waits for the readiness a step asks for and
// calls the step again. Nothing here is Asio's, OpenSSL's or Schannel's, so
// a session and its caller share only these types.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/sockets.hpp"

namespace vintrel::platform::tls {

/// A connected socket as the system names it: a descriptor, or on Windows
/// a Winsock SOCKET, which is pointer-sized.
#ifdef _WIN32
using NativeSocket = std::uintptr_t;
#else
using NativeSocket = int;
#endif

/// What one step of a session came to.
struct Outcome {
  enum class Kind {
    done,        // `count` bytes read or written, or the handshake is over
    want_read,   // call again once the socket is readable
    want_write,  // call again once the socket is writable
    end,         // the peer ended the stream, with close_notify or without
    failed,      // see `system_error`, `number` and `description`
  };
  Kind kind = Kind::done;
  std::size_t count = 0;
  /// The errno (on Windows, the Winsock error) when the network broke under
  /// the session, else 0.
  int system_error = 0;
  /// Otherwise the socket error number, and what went wrong when the
  /// number's usual text does not say it.
  std::int16_t number = 0;
  std::string description;
};

/// An outcome of `kind` with `count` bytes done.
inline Outcome step(Outcome::Kind kind, std::size_t count = 0) {
  Outcome out;
  out.kind = kind;
  out.count = count;
  return out;
}

/// A failure with its socket error number and, when the number's usual
/// text does not say it, a description.
inline Outcome failed(std::int16_t number, std::string description = {}) {
  Outcome out;
  out.kind = Outcome::Kind::failed;
  out.number = number;
  out.description = std::move(description);
  return out;
}

/// One secure connection over a connected socket it does not own.
class Session {
 public:
  virtual ~Session() = default;
  virtual Outcome handshake() = 0;
  /// Reads what one step can bring into `into`.
  virtual Outcome read(std::uint8_t* into, std::size_t size) = 0;
  /// Writes some of `from`; the rest is written by later calls.
  virtual Outcome write(const std::uint8_t* from, std::size_t size) = 0;

  // Early data (TLS 1.3 0-RTT): a session resumed from a server that allows
  // it may carry the first request with its very first flight, saving the
  // handshake's round trip. Only requests that may safely be replayed go
  // that way (ours are all GETs); a server may still refuse them, and then
  // they are sent again once the handshake is over.

  /// How many bytes may go before the handshake; 0 when none may.
  virtual std::size_t early_data_limit() const { return 0; }
  /// Writes some of `from` as early data; called before handshake() only.
  virtual Outcome write_early(const std::uint8_t* /*from*/, std::size_t /*size*/) { return failed(0); }
  /// After the handshake: true when the server refused the early data.
  virtual bool early_data_rejected() const { return false; }
  /// The protocol agreed on and how the handshake went ("TLSv1.3",
  /// "TLSv1.3, resumed", "TLSv1.3, resumed, early data"), shown to a user
  /// who asks what went over the wire; empty before the handshake or when
  /// unknown.
  virtual std::string summary() const { return {}; }
};

/// The trust settings shared by every session of a platform, and the
/// sessions servers handed out, kept for the life of the context so that
/// the next connection to the same server resumes one instead of making a
/// full handshake. Used from one thread (the platform's loop) only; its
/// sessions end before it does.
class Context {
 public:
  virtual ~Context() = default;
  /// A client session over `socket` for the server named `host` (a name or an
  /// IP literal without brackets) on `port`, checked as the options say.
  /// Through a proxy's tunnel, `host` and `port` are still the server's:
  /// together they choose which kept session is offered.
  virtual std::unique_ptr<Session> open(NativeSocket socket, const std::string& host, std::uint16_t port) = 0;
};

/// The module's one entry point: a context for `options`, or null with the
/// reason in `error` (a CA file that cannot be read).
extern "C" Context* vintrel_tls_make_context(const TlsOptions& options, std::string& error);
using MakeContext = decltype(&vintrel_tls_make_context);
inline constexpr const char* make_context_symbol = "vintrel_tls_make_context";

/// Loads the module (once per process) and makes a context, or returns null
/// with the reason in `error`.
std::unique_ptr<Context> load_context(const TlsOptions& options, std::string& error);

/// True when the module can be found: a cheap check that loads nothing.
bool module_available();

}  // namespace vintrel::platform::tls
