#pragma once
// The nginx servers and child processes the `vintrel get` tests start: a
// limited rate or a root of their own, a terminal of some width, a folder.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "get_runs.hpp"
#include "terminal_lines.hpp"

namespace vintrel::testing::get_program_rig {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

inline NginxOptions limited(std::int64_t bytes_per_second, std::string root = {}) {
  NginxOptions options;
  options.limit_rate = bytes_per_second;
  options.root = std::move(root);
  return options;
}

inline NginxOptions serving(std::string root) { return limited(0, std::move(root)); }

inline ChildProcess::Options on_terminal(int columns) {
  ChildProcess::Options options;
  options.terminal = true;
  options.columns = columns;
  return options;
}

inline ChildProcess::Options working_in(std::string folder) {
  ChildProcess::Options options;
  options.working_directory = std::move(folder);
  return options;
}

}  // namespace vintrel::testing::get_program_rig
