#pragma once
// What the tests do in place of a script host: pump this thread's messages
// for a while, or until something has happened.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace vintrel::windows_tests {

/// Dispatches this thread's messages until `done` is true or `limit` has
/// passed, as a host's message loop does while the script sleeps. Returns
/// whether `done` became true.
bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10));

/// Dispatches this thread's messages for `period`.
void pump_for(std::chrono::milliseconds period);

/// Starts Winsock and opens a socket listening on 127.0.0.1 on a port the
/// system picks, written to `port`; the caller closes the socket
/// (closesocket) and ends Winsock (WSACleanup). The socket as SOCKET.
std::uintptr_t listen_on_loopback(int backlog, int& port);

/// A fresh folder under the user's temporary folder, removed with its
/// contents at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// The folder as UTF-8 text, without a trailing separator.
  std::string text() const;
  /// `name` (UTF-8) inside the folder, as UTF-8 text.
  std::string file(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace vintrel::windows_tests
