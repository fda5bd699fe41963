// What the nginx test server leaves behind and serves: its access log read
// back entry by entry, and files of reproducible random content.

#include "support/nginx_server.hpp"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vintrel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

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
    if (fields.size() != 9) continue;
    AccessLogEntry entry;
    entry.request = unescape(fields[0]);
    entry.status = std::atoi(std::string(fields[1]).c_str());
    entry.body_bytes_sent = std::atoll(std::string(fields[2]).c_str());
    entry.request_time = std::atof(std::string(fields[3]).c_str());
    entry.referer = unescape(fields[4]);
    entry.cookie = unescape(fields[5]);
    entry.range = unescape(fields[6]);
    entry.finished = std::atof(std::string(fields[7]).c_str());
    entry.session_reused = fields[8] == "r";
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
