#include "support/tinyproxy.hpp"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "support/server_process.hpp"

namespace vintrel::testing {
namespace {

using namespace std::chrono_literals;

const std::string& tinyproxy_binary() {
  static const std::string binary = find_program("/usr/bin/tinyproxy", "tinyproxy");
  return binary;
}

}  // namespace

bool TinyProxy::available() { return !tinyproxy_binary().empty(); }

std::string TinyProxy::why_unavailable() {
  return available() ? std::string() : "tinyproxy not found; install tinyproxy to run these tests";
}

TinyProxy::TinyProxy() {
  if (!available()) throw std::runtime_error(why_unavailable());
  std::string failure;
  // The port is picked before tinyproxy binds it: another process may take
  // it in between, so a failed start tries another.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = free_loopback_port();
    // Without ConnectPort lines CONNECT may reach any port, as the test
    // servers' ports are whatever the system hands out. Info is the level
    // that logs each request line.
    write_file(folder_.file("tinyproxy.conf"), "Port " + std::to_string(port_) +
                                                   "\nListen 127.0.0.1\nTimeout 30\nMaxClients 50\n"
                                                   "Allow 127.0.0.1\nDisableViaHeader Yes\nLogLevel Info\n"
                                                   "LogFile \"" +
                                                   folder_.file("tinyproxy.log") + "\"\nPidFile \"" +
                                                   folder_.file("tinyproxy.pid") + "\"\n");
    pid_ = spawn_server({tinyproxy_binary(), "-d", "-c", folder_.file("tinyproxy.conf")}, folder_.file("tinyproxy.out"),
                        failure);
    if (pid_ < 0) break;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (has_exited(pid_)) break;
      if (accepts_connections(port_)) return;
      std::this_thread::sleep_for(5ms);
    }
    stop_server(pid_, 5s);
    pid_ = -1;
    failure = read_file(folder_.file("tinyproxy.out"));
  }
  throw std::runtime_error("cannot start tinyproxy: " + failure);
}

TinyProxy::~TinyProxy() { stop_server(pid_, 5s); }

std::string TinyProxy::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> TinyProxy::requests() const {
  // "CONNECT   Dec 08 10:01:10.969 [8769]: Request (file descriptor 5): GET http://... HTTP/1.1"
  static const std::string marker = "): ";
  std::vector<std::string> lines;
  const std::string log = read_file(folder_.file("tinyproxy.log"));
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    if (line.find("]: Request (file descriptor ") != std::string::npos) {
      lines.push_back(line.substr(line.find(marker) + marker.size()));
    }
    start = end + 1;
  }
  return lines;
}

}  // namespace vintrel::testing
