// The socket error numbers of the system's error codes. Winsock's codes are
// those numbers already (WSAECONNREFUSED is 10061); Asio reports them in the
// system category. Anything else is an errno of the C library, mapped by
// name as on Linux.

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
  return socket_error_from_c_errno(errno_value);
}

}  // namespace vintrel::platform
