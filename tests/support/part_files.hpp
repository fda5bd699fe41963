#pragma once
// Local files as a download left them: bytes with the record the control
// keeps beside them.

#include <string>

#include "platform/file_system.hpp"
#include "queue/part_record.hpp"
#include "support/temp_folder.hpp"

namespace vintrel::testing {

/// Writes `bytes` to `path` as the control's part of `record`.
inline void write_part(const std::string& path, const std::string& bytes, const queue::PartRecord& record) {
  write_file(path, bytes);
  platform::write_file_note(path, queue::format_part_record(record));
}

/// The same for a part of `url` about which the server said nothing.
inline void write_part(const std::string& path, const std::string& bytes, const std::string& url) {
  write_part(path, bytes, queue::PartRecord{url, {}, {}, -1, false});
}

/// The record kept with `path`, when it has one.
inline std::optional<queue::PartRecord> part_record_of(const std::string& path) {
  const auto text = platform::read_file_note(path);
  return text ? queue::parse_part_record(*text) : std::nullopt;
}

}  // namespace vintrel::testing
