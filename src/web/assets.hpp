#pragma once
// The files the server hands out, built into the program from src/web/assets.

#include <string_view>

namespace vintrel::web {

struct Asset {
  std::string_view path;          ///< "/", "/vintrel.js", ...
  std::string_view content_type;  ///< With charset for text.
  std::string_view body;
};

/// The asset served at `path` (without query); null when there is none.
const Asset* find_asset(std::string_view path);

/// Where a served page carries the run's token; replaced on the way out.
inline constexpr std::string_view token_placeholder = "@VINTREL_TOKEN@";

}  // namespace vintrel::web
