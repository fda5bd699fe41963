#include "support/apache_server.hpp"

#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/server_process.hpp"

namespace vintrel::testing {
namespace {

using namespace std::chrono_literals;

const std::string& apache_binary() {
  static const std::string binary = find_program("/usr/sbin/apache2", "apache2");
  return binary;
}

constexpr const char* modules = "/usr/lib/apache2/modules/";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

bool ApacheServer::available() { return !apache_binary().empty() && std::filesystem::exists(modules); }

std::string ApacheServer::why_unavailable() {
  return available() ? std::string() : "apache2 not found; install apache2-bin to run these tests";
}

ApacheServer::ApacheServer(const std::vector<std::string>& directives) {
  if (!available()) throw std::runtime_error(why_unavailable());
  namespace fs = std::filesystem;
  const fs::path& dir = folder_.path();
  fs::create_directories(dir / "www");
  // As root Apache serves as "nobody", who must reach the served files.
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  std::string failure;
  // The port is picked before Apache binds it: another process may take it
  // in between, so a failed start tries another.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = free_loopback_port();
    std::ostringstream conf;
    conf << "ServerRoot \"" << dir.string() << "\"\n"
         << "DefaultRuntimeDir \"" << dir.string() << "\"\n"
         << "PidFile \"" << folder_.file("httpd.pid") << "\"\n"
         << "Listen 127.0.0.1:" << port_ << "\n";
    if (::geteuid() == 0) conf << "User nobody\nGroup nogroup\n";
    for (const char* module : {"mpm_prefork", "authz_core", "alias"})
      conf << "LoadModule " << module << "_module " << modules << "mod_" << module << ".so\n";
    conf << "ServerName 127.0.0.1\n"
         << "UseCanonicalName Off\n"
         << "ErrorLog \"" << folder_.file("error.log") << "\"\n"
         << "LogFormat \"%r\\t%>s\\t%{Host}i\" vintrel\n"
         << "CustomLog \"" << folder_.file("access.log") << "\" vintrel\n"
         << "DocumentRoot \"" << folder_.file("www") << "\"\n"
         << "<Directory \"" << folder_.file("www") << "\">\n  Require all granted\n</Directory>\n";
    for (const auto& directive : directives) conf << directive << "\n";
    write_file(folder_.file("httpd.conf"), conf.str());
    std::error_code ignored;
    fs::remove(dir / "httpd.pid", ignored);
    // -X: one process, in the foreground, ended by SIGTERM.
    pid_ = spawn_server({apache_binary(), "-X", "-f", folder_.file("httpd.conf")}, folder_.file("httpd.out"), failure);
    if (pid_ < 0) break;
    // The pid file is written once the port is bound, which tells our
    // Apache apart from another process that took the port.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline && !has_exited(pid_)) {
      std::error_code error;
      if (fs::file_size(dir / "httpd.pid", error) > 0 && !error && accepts_connections(port_)) return;
      std::this_thread::sleep_for(5ms);
    }
    stop_server(pid_, 5s);
    pid_ = -1;
    failure = read_file(folder_.file("httpd.out")) + read_file(folder_.file("error.log"));
  }
  throw std::runtime_error("cannot start apache2: " + failure);
}

ApacheServer::~ApacheServer() { stop_server(pid_, 5s); }

std::string ApacheServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::string ApacheServer::file(std::string_view name) const {
  return (folder_.path() / "www" / std::string(name)).string();
}

std::vector<std::string> ApacheServer::access_log(std::size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto lines = lines_of(read_file(folder_.file("access.log")));
    if (lines.size() >= count || std::chrono::steady_clock::now() >= deadline) return lines;
    std::this_thread::sleep_for(5ms);
  }
}

}  // namespace vintrel::testing
