#pragma once
// What host_fuzz does with one input, shared with the session tests, which
// replay the fuzzer's seeds (tests/fuzz/corpus/host_fuzz) in every build.
//
// Deep nesting needs more bytes than the fuzzer's inputs usually have, so a
// line may ask for it to be built (see expand_line): with the dictionary
// (host_fuzz.dict) the fuzzer reaches a hundred thousand levels from a few
// bytes, in any field of any request.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/session.hpp"
#include "support/fake_platform.hpp"

namespace vintrel::testing {

// A line "\x01" N "\x02" prefix "\x02" open "\x02" middle "\x02" close "\x02"
// suffix becomes prefix + open*N + middle + close*N + suffix, N being the
// decimal digits (capped at 200000). Anything else is sent as it is.
inline std::string expand_line(std::string_view line) {
  if (line.empty() || line.front() != '\x01') return std::string(line);
  line.remove_prefix(1);
  std::size_t count = 0;
  while (!line.empty() && line.front() >= '0' && line.front() <= '9') {
    count = count * 10 + static_cast<std::size_t>(line.front() - '0');
    if (count > 200000) count = 200000;
    line.remove_prefix(1);
  }
  std::vector<std::string_view> parts;
  while (parts.size() < 5 && !line.empty() && line.front() == '\x02') {
    line.remove_prefix(1);
    const auto next = line.find('\x02');
    const bool last = parts.size() == 4 || next == std::string_view::npos;
    parts.push_back(line.substr(0, last ? line.size() : next));
    line.remove_prefix(last ? line.size() : next);
  }
  parts.resize(5);
  std::string out(parts[0]);
  for (std::size_t k = 0; k < count && out.size() < 4'000'000; ++k) out += parts[1];
  out += parts[2];
  for (std::size_t k = 0; k < count && out.size() < 8'000'000; ++k) out += parts[3];
  out += parts[4];
  return out;
}

/// Plays `input` to a fresh session a line at a time (at most 64 lines),
/// with a tick between lines. Returns what broke the rule that every line
/// sent back is one JSON object, or nothing.
inline std::optional<std::string> play_host_lines(std::string_view input) {
  FakePlatform platform;
  std::vector<std::string> out;
  host::Session session(platform, [&](const std::string& line) { out.push_back(line); });
  std::optional<std::string> broken;
  for (int lines = 0; lines < 64 && !input.empty() && !session.closed() && !broken; ++lines) {
    const auto end = input.find('\n');
    const std::string line = expand_line(input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    out.clear();
    session.handle(line);
    for (const auto& sent : out) {
      const auto json = nlohmann::json::parse(sent, nullptr, false);
      if (json.is_discarded() || !json.is_object())
        broken = "sent " + sent.substr(0, 300) + "\n  for line: " + line.substr(0, 300);
    }
    // Ticks in between, as the loop would run them.
    platform.clock_.advance(1);
    platform.timer().tick();
    platform.run_posted();
  }
  session.close();
  return broken;
}

}  // namespace vintrel::testing
