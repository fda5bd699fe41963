#include "support/nginx_server.hpp"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "support/server_process.hpp"

namespace vintrel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto start_limit = 5s;
constexpr auto stop_limit = 5s;
constexpr int start_attempts = 5;

const std::string& nginx_binary() {
  static const std::string binary = find_program("/usr/sbin/nginx", "nginx");
  return binary;
}

}  // namespace

bool NginxServer::available() { return !nginx_binary().empty(); }

std::string NginxServer::why_unavailable() {
  if (available()) return {};
  return "nginx not found (looked for /usr/sbin/nginx and nginx on PATH); "
         "install nginx-light to run these tests";
}

NginxServer::NginxServer(Options options) : options_(std::move(options)) {
  if (options_.root.empty()) {
    root_ = folder_.file("www");
    std::filesystem::create_directories(root_);
  } else {
    root_ = options_.root;
  }
}

NginxServer::~NginxServer() {
  try {
    stop();
  } catch (...) {
  }
}

std::string NginxServer::url(std::string_view path) const {
  const char* scheme = options_.tls_cert.empty() ? "http" : "https";
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::string NginxServer::url_ipv6(std::string_view path) const {
  const char* scheme = options_.tls_cert.empty() ? "http" : "https";
  return std::string(scheme) + "://[::1]:" + std::to_string(port_) + std::string(path);
}

bool NginxServer::has_ipv6_loopback() {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return bound;
}

std::string NginxServer::file(std::string_view name) const {
  return (std::filesystem::path(root_) / std::string(name)).string();
}

void NginxServer::write_config() const {
  const auto& dir = folder_.path();
  auto at = [&](const char* name) { return (dir / name).string(); };
  std::ostringstream conf;
  conf << "daemon off;\n"
       << "master_process off;\n"
       << "worker_processes 1;\n";
  // Without a master process nginx never switches user, but as root it
  // still looks up the default user ("nobody") and hands its temp folders
  // to it; naming root keeps that lookup from depending on the system's
  // accounts.
  if (::geteuid() == 0) conf << "user root;\n";
  conf << "error_log " << at("error.log") << " info;\n"
       << "pid " << at("nginx.pid") << ";\n"
       << "events { worker_connections 256; }\n"
       << "http {\n"
       << "  client_body_temp_path " << at("client_body_temp") << ";\n"
       << "  proxy_temp_path " << at("proxy_temp") << ";\n"
       << "  fastcgi_temp_path " << at("fastcgi_temp") << ";\n"
       << "  uwsgi_temp_path " << at("uwsgi_temp") << ";\n"
       << "  scgi_temp_path " << at("scgi_temp") << ";\n"
       << "  log_format vintrel \"$request\\t$status\\t$body_bytes_sent\\t$request_time\\t"
          "$http_referer\\t$http_cookie\\t$http_range\\t$msec\\t$ssl_session_reused\";\n"
       << "  access_log " << at("access.log") << " vintrel;\n"
       << "  default_type application/octet-stream;\n"
       << "  sendfile on;\n"
       << "  server {\n"
       << "    root " << root_ << ";\n";
  const bool tls = !options_.tls_cert.empty() && !options_.tls_key.empty();
  const char* listen_flags = tls ? " ssl;\n" : ";\n";
  conf << "    listen 127.0.0.1:" << port_ << listen_flags;
  if (options_.listen_ipv6) conf << "    listen [::1]:" << port_ << listen_flags;
  if (tls) {
    conf << "    ssl_certificate " << options_.tls_cert << ";\n"
         << "    ssl_certificate_key " << options_.tls_key << ";\n"
         << "    ssl_protocols " << options_.tls_protocols << ";\n";
  }
  if (options_.limit_rate > 0) conf << "    limit_rate " << options_.limit_rate << ";\n";
  for (const auto& directive : options_.extra_directives) conf << "    " << directive << "\n";
  for (const auto& location : options_.extra_locations) conf << "    " << location << "\n";
  conf << "  }\n"
       << "}\n";
  write_file(at("nginx.conf"), conf.str());
}

bool NginxServer::try_start(std::string& failure) {
  const auto& dir = folder_.path();
  std::error_code ignored;
  // A pid file left by a killed nginx would look like a fresh start.
  std::filesystem::remove(dir / "nginx.pid", ignored);
  write_config();

  std::string prefix = dir.string() + "/";
  std::string conf = (dir / "nginx.conf").string();
  std::string error_log_path = (dir / "error.log").string();
  std::string output_path = (dir / "nginx.out").string();
  std::vector<std::string> args = {nginx_binary(), "-p", prefix, "-c", conf, "-e", error_log_path};
  const pid_t pid = spawn_server(args, output_path, failure);
  if (pid < 0) return false;
  pid_ = pid;

  // nginx writes its pid file only after it has bound the port, so the file
  // tells our nginx apart from another process that took the port.
  const auto deadline = Clock::now() + start_limit;
  while (Clock::now() < deadline) {
    if (has_exited(pid_)) {
      pid_ = -1;
      failure = "nginx exited during start:\n" + error_log() + read_file(output_path);
      return false;
    }
    std::error_code error;
    if (std::filesystem::file_size(dir / "nginx.pid", error) > 0 && !error && accepts_connections(port_)) {
      return true;
    }
    std::this_thread::sleep_for(5ms);
  }
  failure = "nginx did not accept connections within 5 s:\n" + error_log() + read_file(output_path);
  stop();
  return false;
}

void NginxServer::start() {
  if (running()) return;
  if (!available()) throw std::runtime_error(why_unavailable());
  // A first start may pick a port someone else grabs before nginx binds it:
  // pick another. A restart must keep its port, and a port just released by
  // the previous nginx can be briefly busy: try the same one again.
  const bool keep_port = port_ != 0;
  std::string failure;
  for (int attempt = 0; attempt < start_attempts; ++attempt) {
    if (!keep_port) port_ = free_loopback_port();
    if (try_start(failure)) return;
    if (keep_port) std::this_thread::sleep_for(100ms);
  }
  throw std::runtime_error("cannot start nginx on port " + std::to_string(port_) + ": " + failure);
}

void NginxServer::stop() {
  stop_server(pid_, stop_limit);
  pid_ = -1;
}

void NginxServer::restart() {
  stop();
  start();
}

}  // namespace vintrel::testing
