#pragma once
// The paths of "get", "put" and "call" requests, written as script writes
// them: DownloadFiles(2).remoteServerLocs(1).PortNum.

#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.hpp"

namespace vintrel::host {

/// One step of a path: a member name and, when followed by parentheses,
/// the arguments between them.
struct Segment {
  std::string name;
  bool indexed = false;
  std::vector<automation::Variant> index;
};

/// Reads a path: member names (a letter or "_", then letters, digits and
/// "_") joined by ".", each perhaps followed by "(arguments)", separated
/// by ","; an argument is a whole number or a string in double quotes.
/// Blanks may stand between the parts. A path that does not read fails
/// with protocol_error::bad_request; a number beyond 32 bits raises
/// Overflow (6), as script does.
class PathParser {
 public:
  /// `text` must outlive the parser.
  explicit PathParser(std::string_view text) : text_(text) {}

  /// The segments of the whole text, at least one.
  std::vector<Segment> parse();

 private:
  [[noreturn]] void bad(const std::string& why) const;
  bool take(char c);
  void skip_blanks();
  Segment segment();
  automation::Variant argument();

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace vintrel::host
