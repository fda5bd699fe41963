#include "support/nginx_server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

#include "support/spawn_signals.hpp"

extern char** environ;

namespace vintrel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto start_limit = 5s;
constexpr auto stop_limit = 5s;
constexpr int start_attempts = 5;

bool executable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string find_nginx() {
  if (executable("/usr/sbin/nginx")) return "/usr/sbin/nginx";
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::stringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (folder.empty()) continue;
    std::string candidate = folder + "/nginx";
    if (executable(candidate)) return candidate;
  }
  return {};
}

const std::string& nginx_binary() {
  static const std::string binary = find_nginx();
  return binary;
}

// Asks the kernel for a port nobody uses right now. nginx binds it a moment
// later, so another process may take it in between; start() retries then.
std::uint16_t free_loopback_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    int error = errno;
    ::close(fd);
    throw std::system_error(error, std::generic_category(), "bind to a free port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

bool accepts_connections(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// The log escapes '"', '\\' and bytes outside 0x20..0x7e as \xHH.
std::string unescape(std::string_view field) {
  if (field == "-") return {};
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] == 'x') {
      unsigned value = 0;
      bool ok = true;
      for (std::size_t k = i + 2; k < i + 4; ++k) {
        char c = field[k];
        value <<= 4;
        if (c >= '0' && c <= '9')
          value |= static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
          value |= static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
          value |= static_cast<unsigned>(c - 'a' + 10);
        else
          ok = false;
      }
      if (ok) {
        out.push_back(static_cast<char>(value));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

std::vector<std::string_view> split_tabs(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t begin = 0;
  while (true) {
    std::size_t tab = line.find('\t', begin);
    if (tab == std::string_view::npos) {
      fields.push_back(line.substr(begin));
      return fields;
    }
    fields.push_back(line.substr(begin, tab - begin));
    begin = tab + 1;
  }
}

// xorshift64*, seeded through splitmix64 so that nearby seeds (0, 1, 2...)
// still give unrelated streams. Quality only needs to defeat accidental
// matches between files and offsets.
class RandomStream {
 public:
  explicit RandomStream(std::uint32_t seed) {
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    state_ = (z ^ (z >> 31)) | 1u;
  }

  // Fills `out` with the next out.size() bytes; callers keep sizes a
  // multiple of 8 except for the very last block, so streams line up.
  void fill(char* out, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
      state_ ^= state_ >> 12;
      state_ ^= state_ << 25;
      state_ ^= state_ >> 27;
      std::uint64_t word = state_ * 0x2545F4914F6CDD1Dull;
      for (int b = 0; b < 8 && i < size; ++b, ++i) {
        out[i] = static_cast<char>(static_cast<unsigned char>(word & 0xffu));
        word >>= 8;
      }
    }
  }

 private:
  std::uint64_t state_;
};

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
          "$http_referer\\t$http_cookie\\t$http_range\";\n"
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
         << "    ssl_protocols TLSv1.2 TLSv1.3;\n";
  }
  if (options_.limit_rate > 0) conf << "    limit_rate " << options_.limit_rate << ";\n";
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
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Sockets the test holds without close-on-exec would otherwise live on in
  // nginx, and a connection the test closes would not end.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  // The test program may block or ignore signals (SIGPIPE often is); nginx
  // must start with the defaults or it would not see our SIGTERM.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  start_with_default_signals(attributes);

  pid_t pid = -1;
  int spawned = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    failure = std::string("posix_spawn: ") + std::strerror(spawned);
    return false;
  }
  pid_ = pid;

  // nginx writes its pid file only after it has bound the port, so the file
  // tells our nginx apart from another process that took the port.
  const auto deadline = Clock::now() + start_limit;
  while (Clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
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
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + stop_limit;
  int status = 0;
  while (true) {
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) break;
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(2ms);
  }
  pid_ = -1;
}

void NginxServer::restart() {
  stop();
  start();
}

std::vector<AccessLogEntry> NginxServer::access_log() const {
  std::vector<AccessLogEntry> entries;
  std::string text = read_file(folder_.file("access.log"));
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    // A line without its newline is still being written.
    if (end == std::string::npos) break;
    auto fields = split_tabs(std::string_view(text).substr(begin, end - begin));
    begin = end + 1;
    if (fields.size() != 7) continue;
    AccessLogEntry entry;
    entry.request = unescape(fields[0]);
    entry.status = std::atoi(std::string(fields[1]).c_str());
    entry.body_bytes_sent = std::atoll(std::string(fields[2]).c_str());
    entry.request_time = std::atof(std::string(fields[3]).c_str());
    entry.referer = unescape(fields[4]);
    entry.cookie = unescape(fields[5]);
    entry.range = unescape(fields[6]);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<AccessLogEntry> NginxServer::wait_for_access_log(std::size_t count,
                                                             std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    auto entries = access_log();
    if (entries.size() >= count || Clock::now() >= deadline) return entries;
    std::this_thread::sleep_for(2ms);
  }
}

std::string NginxServer::error_log() const { return read_file(folder_.file("error.log")); }

std::string random_bytes(std::size_t n, std::uint32_t seed) {
  std::string out(n, '\0');
  RandomStream(seed).fill(out.data(), n);
  return out;
}

void make_file(const std::string& path, std::uint64_t size, std::uint32_t seed) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  RandomStream stream(seed);
  constexpr std::size_t block_size = std::size_t{1} << 20;  // a multiple of 8
  std::vector<char> block(block_size);
  std::uint64_t left = size;
  while (left > 0) {
    std::size_t now = left < block_size ? static_cast<std::size_t>(left) : block_size;
    stream.fill(block.data(), now);
    out.write(block.data(), static_cast<std::streamsize>(now));
    left -= now;
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace vintrel::testing
