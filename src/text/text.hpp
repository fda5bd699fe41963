#pragma once
// Text functions shared by every layer: the script runtime's own (splitting
// the empty text yields no piece at all, replacing makes one pass left to
// right) and the ASCII rules of protocols (header names, host names and
// member names compare without regard to case; blanks are spaces and tabs).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vintrel::text {

/// The pieces of `text` between the separators; the empty text has none.
std::vector<std::string> split(std::string_view text, std::string_view separator);
/// `text` with every occurrence of `from` replaced by `to`, in one pass
/// from the left ("///" with "//" → "/" gives "//").
std::string replace_all(std::string_view text, std::string_view from, std::string_view to);

/// `text` without the characters of `blanks` at either end.
std::string_view trim(std::string_view text, std::string_view blanks = " \t");
/// `c` with A-Z lowered; every other byte as it is, whatever the locale.
char lower_ascii(char c) noexcept;
/// `text` with A-Z lowered.
std::string lower_ascii(std::string_view text);
/// True when `a` and `b` differ at most in the case of A-Z.
bool iequals(std::string_view a, std::string_view b) noexcept;

/// The value of the hex digit `c` (either case); -1 for any other byte.
int hex_value(char c) noexcept;
/// `bytes` in standard base64, with its padding.
std::string base64_encode(std::string_view bytes);
/// Standard base64 decoded, its padding optional; nothing for any other
/// character or a length no encoding gives.
std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text);

/// `text` with each "%XX" (two hex digits) turned into its byte; a "%" not
/// followed by two hex digits stays as it is.
std::string percent_decode(std::string_view text);
/// percent_decode for a form's fields, where "+" stands for a space.
std::string form_decode(std::string_view text);

/// True for the bytes no header line or request line may carry: those
/// below 0x20 (CR and LF end a line, so they would start a header of
/// their own) and DEL.
constexpr bool is_control(char c) noexcept { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }
/// The position of the first control byte of `text`; npos when none.
std::size_t find_control(std::string_view text) noexcept;
/// "control character 0x0A": how a message names the control byte `c`.
std::string control_name(char c);
/// `text` with every control byte written as "\xNN", fit to be shown.
std::string show_controls(std::string_view text);

}  // namespace vintrel::text
