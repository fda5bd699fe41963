#pragma once
// Parts of the Asio platform that other platform sources and the tests reach
// without seeing Asio itself.

#include <cstdint>
#include <memory>

namespace vintrel::platform {

class EventLoop;
class Resolver;

/// A resolver that asks the system (getaddrinfo on Asio's resolver thread);
/// answers come on `loop`. Unknown names answer 11001, temporary failures
/// 11002.
std::unique_ptr<Resolver> make_system_resolver(EventLoop& loop);

/// The socket error number for an operating-system error number (errno;
/// on Windows also Winsock's and Win32's codes): the classic 100xx number
/// of the same condition, 10000 + the BSD number.
std::int16_t socket_error_from_errno(int errno_value);
/// The same for the C library's errno names alone, which both platforms
/// share; 10053 for any other.
std::int16_t socket_error_from_c_errno(int errno_value);

}  // namespace vintrel::platform
