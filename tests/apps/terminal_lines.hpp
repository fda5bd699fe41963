#pragma once
// What a terminal keeps once the output of `vintrel get` is drawn.

#include <algorithm>
#include <string>
#include <vector>

namespace vintrel::testing {

/// The lines left on screen, as a terminal draws them: "\r\x1b[K" wipes the
/// line the cursor is on, "\x1b[1A" moves it up a line, "\n" down (a pty
/// turns "\n" into "\r\n"). The line the cursor is on, if it holds text,
/// comes last marked " <live>".
inline std::vector<std::string> lines_kept(const std::string& out) {
  std::vector<std::string> rows(1);
  std::size_t row = 0;
  for (std::size_t at = 0; at < out.size();) {
    if (out.compare(at, 4, "\r\x1b[K") == 0) {
      rows[row].clear();
      at += 4;
    } else if (out.compare(at, 4, "\x1b[1A") == 0) {
      row = row == 0 ? 0 : row - 1;
      at += 4;
    } else if (out[at] == '\n') {
      if (++row == rows.size()) rows.emplace_back();
      ++at;
    } else if (out[at] == '\r') {
      ++at;
    } else {
      rows[row] += out[at++];
    }
  }
  std::vector<std::string> kept(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(row));
  if (!rows[row].empty()) kept.push_back(rows[row] + " <live>");
  return kept;
}

}  // namespace vintrel::testing
