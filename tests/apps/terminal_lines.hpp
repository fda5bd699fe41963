#pragma once
// What a terminal keeps once the output of `vintrel get` is drawn.

#include <string>
#include <vector>

namespace vintrel::testing {

/// The lines left on screen: each "\r\x1b[K" wipes the line it is on, so
/// only text followed by a newline stays (a pty turns "\n" into "\r\n").
/// The line still being drawn, if any, comes last marked " <live>".
inline std::vector<std::string> lines_kept(const std::string& out) {
  std::vector<std::string> kept;
  std::string line;
  for (std::size_t at = 0; at < out.size();) {
    if (out.compare(at, 4, "\r\x1b[K") == 0) {
      line.clear();
      at += 4;
    } else if (out[at] == '\n') {
      kept.push_back(line);
      line.clear();
      ++at;
    } else if (out[at] == '\r') {
      ++at;
    } else {
      line += out[at++];
    }
  }
  if (!line.empty()) kept.push_back(line + " <live>");
  return kept;
}

}  // namespace vintrel::testing
