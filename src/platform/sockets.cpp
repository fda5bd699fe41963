#include "platform/sockets.hpp"

namespace vintrel::platform {

bool is_tls_failure(std::int32_t number) {
  return number == tls_err::date_invalid || number == tls_err::name_invalid || number == tls_err::untrusted ||
         number == tls_err::channel_error;
}

std::string socket_error_text(std::int32_t number) {
  // The texts script has always been shown with these numbers; scripts
  // compare against some of them, so they stay word for word.
  switch (number) {
    case 7:
      return "Out of memory";
    case 380:
      return "The property value is invalid";
    case 383:
      return "The property is read-only";
    case 394:
      return "The property can't be read";
    case 1004:
      return "The operation was canceled";
    case 10004:
      return "Interrupted function call";
    case 10009:
      return "The descriptor is not valid";
    case 10013:
      return "Permission denied";
    case 10014:
      return "The requested address is a broadcast address, but flag is not set";
    case 10022:
      return "Invalid argument";
    case 10024:
      return "Too many open sockets";
    case 10035:
      return "Socket is non-blocking and the specified operation will block";
    case 10036:
      return "A blocking Winsock operation is in progress";
    case 10037:
      return "The operation is completed. No blocking operation is in progress";
    case 10038:
      return "The descriptor is not a socket";
    case 10040:
      return "The datagram is too large to fit into the buffer and is truncated";
    case 10043:
      return "The specified port is not supported";
    case 10047:
      return "Address family is not supported";
    case 10048:
      return "Address in use";
    case 10049:
      return "Address is not available from the local machine";
    case 10050:
      return "Network subsystem failed";
    case 10051:
      return "Network is unreachable";
    case 10052:
      return "Connection has timed out when SO_KEEPALIVE is set";
    case 10053:
      return "Connection is aborted due to timeout or other failure";
    case 10054:
      return "Connection is reset by remote side";
    case 10055:
      return "No buffer space is available";
    case 10056:
      return "Socket is already connected";
    case 10057:
      return "Socket is not connected";
    case 10058:
      return "Socket has been shut down";
    case 10060:
      return "Connection timed out";
    case 10061:
      return "Connection is forcefully rejected";
    case 10064:
      return "Host is down";
    case 10065:
      return "No route to host";
    case 10093:
      return "WinsockInit should be called first";
    case 11001:
      return "Authoritative answer: Host not found";
    case 11002:
      return "Non-Authoritative answer: Host not found";
    case 11003:
      return "Nonrecoverable errors";
    case 11004:
      return "Valid name, no data record of requested type";
    case 12037:
      return "The server's certificate has expired or is not yet valid";
    case 12038:
      return "The server's certificate is not valid for the requested name";
    case 12045:
      return "The server's certificate is not trusted";
    case 12157:
      return "A secure channel could not be set up with the server";
    case 40006:
      return "Wrong protocol or connection state for the requested transaction or request";
    case 40014:
      return "The argument passed to a function was not in the correct format or in the specified range";
    case 40017:
      return "Successful";
    case 40018:
      return "Unsupported variant types";
    case 40020:
      return "Invalid operation at current state";
    case 40021:
      return "Argument is out of range";
    case 40026:
      return "Wrong protocol for the requested transaction or request";
    default:
      return "Unknown error";
  }
}

}  // namespace vintrel::platform
