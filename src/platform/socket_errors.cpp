// The socket error numbers of the C library's errno names, which both
// platforms' libraries spell alike; on Linux they are all a failure brings.

#include <cerrno>

#include "platform/asio_platform.hpp"
#include "platform/sockets.hpp"

namespace vintrel::platform {

std::int16_t socket_error_from_c_errno(int errno_value) {
  // The socket numbers are 10000 + the BSD errno of the same condition; the
  // errno values of this system differ from BSD's, so map by name.
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
      return 10055;
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case EPIPE:
      return 10058;
#ifdef ESHUTDOWN
    case ESHUTDOWN:
      return 10058;
#endif
    case ETIMEDOUT:
      return sck_err::timed_out;
    case ECONNREFUSED:
      return sck_err::refused;
#ifdef EHOSTDOWN
    case EHOSTDOWN:
      return 10064;
#endif
    case EHOSTUNREACH:
      return sck_err::host_unreachable;
    // Whatever else breaks a connection reads as the connection failing.
    default:
      return sck_err::aborted;
  }
}

#ifndef _WIN32
std::int16_t socket_error_from_errno(int errno_value) { return socket_error_from_c_errno(errno_value); }
#endif

}  // namespace vintrel::platform
