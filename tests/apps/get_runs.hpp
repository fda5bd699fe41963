#pragma once
// What the tests of `vintrel get` share: the built program with fast ticks,
// files for nginx to serve, and readable verdicts on what a run left behind.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "support/nginx_server.hpp"
#include "support/temp_folder.hpp"

#define REQUIRE_NGINX() \
  if (!::vintrel::testing::NginxServer::available()) GTEST_SKIP() << ::vintrel::testing::NginxServer::why_unavailable()

namespace vintrel::testing {

inline constexpr std::int64_t KiB = 1024;
inline constexpr std::int64_t MiB = 1024 * KiB;

// The program with fast ticks, so that a test does not wait a second for
// each step of the control.
inline std::vector<std::string> get(std::vector<std::string> arguments) {
  std::vector<std::string> all{VINTREL_PROGRAM, "get", "--tick-interval", "20"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return all;
}

inline std::string describe(const ProgramRun& run) {
  return "exit " + std::to_string(run.status) + "\n--- stdout\n" + run.out + "\n--- stderr\n" + run.err;
}

inline std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// Compares a file with what it should hold without printing megabytes of
// bytes when it does not.
inline ::testing::AssertionResult holds(const std::string& path, const std::string& expected) {
  const std::string actual = read_file(path);
  if (actual == expected) return ::testing::AssertionSuccess();
  std::size_t same = 0;
  while (same < actual.size() && same < expected.size() && actual[same] == expected[same]) ++same;
  return ::testing::AssertionFailure() << path << " holds " << actual.size() << " bytes, " << expected.size()
                                       << " expected; they differ from byte " << same;
}

// Serves `name` with `size` bytes made from `seed`; returns its content.
inline std::string serve(NginxServer& server, const std::string& name, std::int64_t size, std::uint32_t seed) {
  make_file(server.file(name), static_cast<std::uint64_t>(size), seed);
  return read_file(server.file(name));
}

}  // namespace vintrel::testing
