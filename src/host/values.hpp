#pragma once
// Automation values as JSON, both ways, for the scripting protocol.
//
//   Empty, Null            null
//   I2, I4                 integer
//   R8                     number
//   Date                   number: the automation serial (days since
//                          30 December 1899, local time)
//   Currency               integer of whole units, or a number when it has
//                          a fraction
//   String                 string (bytes that are not UTF-8 are replaced)
//   Boolean                true / false
//   Object                 {"object": "DownloadFile"}: its class; a
//                          collection adds "count"; Nothing is
//                          {"object": null}
//   Byte array             array of integers 0..255
//
// Coming in, an integer that fits 32 bits is an I4, any other number an R8,
// an array of integers 0..255 a byte array; JSON objects have no automation
// form. The control converts what it gets to the member's own type.

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "automation/automation.hpp"

namespace vintrel::host {

/// Keys keep the order they were written in, so that lines read well.
using Json = nlohmann::ordered_json;

Json to_json(const automation::Variant& value);
/// Fails with 13 for a value that has no automation form.
automation::Variant from_json(const Json& value);

/// The deepest a peer's JSON may nest arrays and objects, counting the
/// request object itself. Deeper text is refused while it is read, so no
/// later step (copying an id, writing it back) walks an unbounded tree.
inline constexpr int max_json_depth = 64;

/// The outcome of reading one line of a peer's JSON.
struct ParsedLine {
  enum class Status { ok, not_json, too_deep };
  Status status = Status::not_json;
  Json value;  ///< Only meaningful when ok.
  bool ok() const { return status == Status::ok; }
};

/// Parses `text` as one JSON value, stopping at the first array or object
/// that would be nested deeper than max_json_depth.
ParsedLine parse_line(std::string_view text);

/// One line of JSON text, whatever bytes its strings hold.
std::string dump_line(const Json& message);

}  // namespace vintrel::host
