#pragma once
// The runtime's text functions, with its exact rules: splitting the empty
// text yields no piece at all, replacing makes one pass left to right.

#include <string>
#include <string_view>
#include <vector>

namespace vintrel::platform {

/// The pieces of `text` between the separators; the empty text has none.
std::vector<std::string> split(std::string_view text, std::string_view separator);
/// `text` with every occurrence of `from` replaced by `to`, in one pass
/// from the left ("///" with "//" → "/" gives "//").
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

}  // namespace vintrel::platform
