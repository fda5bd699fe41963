#pragma once
// One file of a scripted server downloaded into a temporary folder, and the
// bodies and answers the response tests send it.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/control_harness.hpp"
#include "support/part_files.hpp"
#include "support/temp_folder.hpp"
#include "support/user_control1_test_view.hpp"

namespace vintrel::response_rig {

using Strings = std::vector<std::string>;
using testing::read_file;
using testing::write_file;

inline std::string content(std::size_t size, char seed = 'a') {
  std::string s(size, '\0');
  for (std::size_t n = 0; n < size; ++n) s[n] = static_cast<char>(seed + static_cast<char>(n % 23));
  return s;
}

inline std::string ok(const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

// One file of a scripted server, downloaded into a temporary folder.
struct Response : ::testing::Test {
  testing::TempFolder dir;
  testing::ControlHarness h;
  control::UserControl1& c = h.control;
  const control::UserControl1TestView engine{c};
  std::string path = dir.file("file.bin");
  const std::string url = "http://srv/dir/file.bin";

  // `bytes` on disk as this download's own part.
  void own_part(const std::string& bytes) { testing::write_part(path, bytes, url); }

  void SetUp() override { h.start({"http://srv/dir/file.bin"}, dir.path().string()); }

  // Connects the current attempt and sends its request; returns the request.
  std::string connect() { return h.send_request(); }
  // The server sends `bytes` in pieces of `piece` bytes (0: at once).
  void respond(const std::string& bytes, std::size_t piece = 0) {
    if (piece == 0) piece = bytes.size();
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      if (h.winsock().element(1).state != platform::sck::connected) return;
      h.winsock().deliver(1, std::string_view(bytes).substr(at, piece));
    }
  }
  bool closed() { return h.winsock().element(1).state == platform::sck::closed; }
  std::string status() { return h.file(1).downloadStatus; }
};

}  // namespace vintrel::response_rig
