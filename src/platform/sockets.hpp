#pragma once
// The socket control: an array of TCP client elements addressed by index,
// each with a state, asynchronous connect, send, receive and close, and
// events delivered on the control's thread, one at a time.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vintrel::platform {

/// The states an element reports through State.
namespace sck {
inline constexpr std::int16_t closed = 0;
inline constexpr std::int16_t open = 1;
inline constexpr std::int16_t listening = 2;
inline constexpr std::int16_t pending = 3;
inline constexpr std::int16_t resolving = 4;
inline constexpr std::int16_t resolved = 5;
inline constexpr std::int16_t connecting = 6;
inline constexpr std::int16_t connected = 7;
inline constexpr std::int16_t closing = 8;  // the peer ended the connection
inline constexpr std::int16_t error = 9;
}  // namespace sck

/// Error numbers of the socket control.
namespace sck_err {
inline constexpr std::int16_t reset = 10054;
inline constexpr std::int16_t aborted = 10053;
inline constexpr std::int16_t timed_out = 10060;
inline constexpr std::int16_t refused = 10061;
inline constexpr std::int16_t net_unreachable = 10051;
inline constexpr std::int16_t host_unreachable = 10065;
inline constexpr std::int16_t host_not_found = 11001;
inline constexpr std::int16_t host_not_found_try_again = 11002;
}  // namespace sck_err

/// Error numbers of secure connections. Each means the server could not
/// prove who it is or no secure channel could be agreed: trying again gives
/// the same answer, so a transfer stops on them instead of retrying.
namespace tls_err {
inline constexpr std::int16_t date_invalid = 12037;   // expired or not yet valid
inline constexpr std::int16_t name_invalid = 12038;   // not issued for the name
inline constexpr std::int16_t untrusted = 12045;      // chain does not verify
inline constexpr std::int16_t channel_error = 12157;  // handshake refused or failed
}  // namespace tls_err

/// True for the numbers of `tls_err`.
bool is_tls_failure(std::int32_t number);

/// The description the socket control gives with an error number.
std::string socket_error_text(std::int32_t number);

/// The arguments of an Error event.
struct SocketError {
  std::int16_t Number = 0;
  std::string Description;
  std::int32_t Scode = 0;
  std::string Source = "Winsock";
  std::string HelpFile;
  std::int32_t HelpContext = 0;
  bool CancelDisplay = false;
};

/// Receives the events of a socket array, always on the control's thread and
/// never inside another handler.
class SocketEvents {
 public:
  virtual ~SocketEvents() = default;
  /// The element's connection is up.
  virtual void on_connect(std::int16_t index) = 0;
  /// Bytes have arrived; `bytes_total` is what GetData would hand over now.
  virtual void on_data_arrival(std::int16_t index, std::int32_t bytes_total) = 0;
  /// The element failed; its State is now 9.
  virtual void on_error(std::int16_t index, SocketError& error) = 0;
  /// The peer ended the connection; comes after every byte that arrived
  /// before the end has been delivered, and State is now 8.
  virtual void on_close(std::int16_t index) = 0;
};

/// Time limits of the sockets, injectable so tests need not wait. The
/// defaults are aria2's and wget users' familiar minute.
struct SocketTimeouts {
  /// A connection (TLS handshake included) that is not up by then fails
  /// with 10060.
  std::chrono::milliseconds connect{60000};
  /// A connection that has sent data and then hears nothing for this long
  /// fails with 10060: no first byte of the answer, or a body that stalls.
  std::chrono::milliseconds idle{60000};
};

/// How secure connections check the server.
struct TlsOptions {
  /// A file of PEM certificates trusted besides the system's store.
  std::string ca_file;
  /// False skips the check of the certificate chain and name (--insecure).
  bool verify = true;
};

/// An array of socket elements (`Winsock1`, `pingWs`).
class SocketArray {
 public:
  virtual ~SocketArray() = default;

  /// Where the events go.
  void set_events(SocketEvents* events) { events_ = events; }

  /// Loads element `index`; loading one that exists closes it and reuses it.
  virtual void Load(std::int32_t index) = 0;
  /// True when element `index` has been loaded.
  virtual bool IsLoaded(std::int32_t index) const = 0;

  // Each call below on an element never loaded fails with the automation
  // error 340.

  /// The element's state (see `sck`).
  virtual std::int16_t State(std::int32_t index) const = 0;
  /// Ends the connection at once; harmless on a closed element.
  virtual void Close(std::int32_t index) = 0;
  /// Starts resolving and connecting; returns at once.
  void Connect(std::int32_t index, const std::string& host, std::int32_t port) { Connect(index, host, port, false); }
  /// Connect, and when `secure` run TLS over the connection before it counts
  /// as connected: SNI with `host`, the server's certificate checked against
  /// the trust store and `host`. A check that fails raises Error with a
  /// `tls_err` number and a description saying what failed.
  virtual void Connect(std::int32_t index, const std::string& host, std::int32_t port, bool secure) = 0;
  /// Sends text, one byte per character.
  virtual void SendData(std::int32_t index, std::string_view data) = 0;
  /// Hands over and removes every byte that has arrived. The view stays
  /// valid until control returns to the event loop or the next GetData.
  virtual std::span<const std::uint8_t> GetData(std::int32_t index) = 0;
  /// GetData as text, one character per byte.
  std::string GetDataText(std::int32_t index) {
    auto bytes = GetData(index);
    return std::string(bytes.begin(), bytes.end());
  }
  /// Bytes waiting to be taken with GetData.
  virtual std::int32_t BytesReceived(std::int32_t index) const = 0;
  /// The TLS version of the element's secure connection once it is up and
  /// how its handshake went ("TLSv1.3, resumed, early data"); empty for a
  /// plain one, or where the platform cannot tell.
  virtual std::string tls_summary(std::int32_t /*index*/) const { return {}; }
  /// Reads at most `bytes` at a time from the element, and stops reading
  /// once that much waits untaken (0: the platform's own size). A handler
  /// that paces what it takes gets it in steps of that size.
  virtual void set_read_size(std::int32_t /*index*/, std::int32_t /*bytes*/) {}

 protected:
  SocketEvents* events() const { return events_; }

 private:
  SocketEvents* events_ = nullptr;
};

}  // namespace vintrel::platform
