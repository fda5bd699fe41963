// The socket error numbers of the system's error codes. Winsock's codes are
// those numbers already (WSAECONNREFUSED is 10061); Asio reports them in the
// system category. Anything else is an errno of the C library, mapped by
// name as on Linux.

#include <cerrno>

#include "platform/asio_platform.hpp"
#include "platform/sockets.hpp"

namespace vintrel::platform {

std::int16_t socket_error_from_errno(int errno_value) {
  if (errno_value >= 10000 && errno_value < 12000) return static_cast<std::int16_t>(errno_value);
  // Completion ports report some failures with Win32 codes of their own.
  switch (errno_value) {
    case 64:  // ERROR_NETNAME_DELETED: the peer reset the connection
      return sck_err::reset;
    case 1225:  // ERROR_CONNECTION_REFUSED
      return sck_err::refused;
    case 1231:  // ERROR_NETWORK_UNREACHABLE
      return sck_err::net_unreachable;
    case 1232:  // ERROR_HOST_UNREACHABLE
      return sck_err::host_unreachable;
    case 1236:  // ERROR_CONNECTION_ABORTED
      return sck_err::aborted;
    default:
      break;
  }
  switch (errno_value) {
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
      return 10024;
    case EWOULDBLOCK:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EMSGSIZE:
      return 10040;
    case EPROTONOSUPPORT:
      return 10043;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return sck_err::net_unreachable;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return sck_err::aborted;
    case ECONNRESET:
      return sck_err::reset;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case EPIPE:
      return 10058;
    case ETIMEDOUT:
      return sck_err::timed_out;
    case ECONNREFUSED:
      return sck_err::refused;
    case EHOSTUNREACH:
      return sck_err::host_unreachable;
    // Whatever else breaks a connection reads as the connection failing.
    default:
      return sck_err::aborted;
  }
}

}  // namespace vintrel::platform
