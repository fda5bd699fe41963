#pragma once
// Header lines the user adds to every request ("--header", "--user-agent"),
// checked before any of them reaches a request: a line end in one would
// start a header of its own, and some lines only the control may write.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vintrel::http {

/// One added header line, its name and value as they go out.
struct ExtraHeader {
  std::string name;
  std::string value;
};

/// True when `name` is a header name: one or more token characters.
bool is_token(std::string_view name) noexcept;

/// "Name: value" (blanks around the value dropped) as a header the user
/// may add; nothing, with `why` set, for a line that is not one, a control
/// byte anywhere, or a header the control writes itself.
std::optional<ExtraHeader> parse_extra_header(std::string_view text, std::string& why);

/// The added lines as they go out, each ending in CRLF: "User-Agent:"
/// first when `user_agent` is not empty, then `headers` in order. Both must
/// have been checked (parse_extra_header, no control byte in the agent).
std::string extra_header_lines(std::string_view user_agent, const std::vector<ExtraHeader>& headers);

}  // namespace vintrel::http
