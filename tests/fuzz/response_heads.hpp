#pragma once
// The heads of response_fuzz's inputs, shared with the http tests, which
// replay the fuzzer's seeds (tests/fuzz/corpus/response_fuzz) in every build.
//
// A head is gathered as the transfer gathers it: arrival after arrival,
// scan_head looking for its end, read_response_head reading the text once
// the end has come. Beast's parsegrind is the model: however the bytes are
// cut into arrivals, the outcome is the one of the whole bytes arriving at
// once.

#include <string.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/response_header.hpp"

namespace vintrel::testing {

// memmem rather than string_view::find: libFuzzer watches memmem's
// arguments and learns the separators from them.
inline std::vector<std::string_view> split_input(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const void* at = memmem(text.data(), text.size(), separator.data(), separator.size());
    if (!at) break;
    const auto length = static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
    pieces.push_back(text.substr(0, length));
    text.remove_prefix(length + separator.size());
  }
  pieces.push_back(text);
  return pieces;
}

/// What a response_fuzz input sends on each connection: the bytes after its
/// three bytes of set-up, cut into connections at "#NEXT#" and each
/// connection into arrivals at "#|". Nothing for an input without set-up.
inline std::vector<std::vector<std::string_view>> response_connections(std::string_view input) {
  std::vector<std::vector<std::string_view>> connections;
  if (input.size() < 3) return connections;
  for (const auto connection : split_input(input.substr(3), "#NEXT#"))
    connections.push_back(split_input(connection, "#|"));
  return connections;
}

/// How a head ended up once the bytes stopped or the head was done.
struct GatheredHead {
  enum class State { incomplete, complete, too_large };
  State state = State::incomplete;
  std::size_t head_length = 0;  // complete: the head's bytes, blank line included
  std::optional<http::ResponseHead> head;

  bool operator==(const GatheredHead&) const = default;
};

/// Gathers the arrivals as the transfer does, up to the one that completes
/// the head or makes it too large.
inline GatheredHead gather_head(const std::vector<std::string_view>& arrivals) {
  GatheredHead gathered;
  std::string text;
  for (const auto arrival : arrivals) {
    const std::size_t before = text.size();
    text.append(arrival);
    const http::HeadScan scan = http::scan_head(text, before);
    if (scan.too_large) {
      gathered.state = GatheredHead::State::too_large;
      return gathered;
    }
    if (scan.end) {
      gathered.state = GatheredHead::State::complete;
      gathered.head_length = *scan.end + 4;
      gathered.head = http::read_response_head(std::string_view(text).substr(0, *scan.end));
      return gathered;
    }
  }
  return gathered;
}

/// `bytes` cut at the given offsets, in increasing order.
inline std::vector<std::string_view> cut(std::string_view bytes, const std::vector<std::size_t>& offsets) {
  std::vector<std::string_view> pieces;
  std::size_t from = 0;
  for (const std::size_t at : offsets) {
    pieces.push_back(bytes.substr(from, at - from));
    from = at;
  }
  pieces.push_back(bytes.substr(from));
  return pieces;
}

/// What is wrong with a head's value on its own, if anything.
inline std::optional<std::string> head_fault(const http::ResponseHead& head) {
  if (head.status && (*head.status < 0 || *head.status > 999)) return "status " + std::to_string(*head.status);
  if (head.status_line.find("\r\n") != std::string::npos) return "status line with a line end";
  if (head.content_length && !head.length_given) return "a length without a length line";
  if (head.content_length && !(*head.content_length >= 0)) return "negative length";
  if (head.exact_length && !head.content_length) return "an exact length without a length";
  if (head.exact_length && static_cast<double>(*head.exact_length) != *head.content_length)
    return "exact length " + std::to_string(*head.exact_length) + " against " + std::to_string(*head.content_length);
  if (head.size_check_length && !(*head.size_check_length >= 0)) return "negative size-check length";
  if (head.content_range && head.content_range->first &&
      (!head.content_range->last || *head.content_range->last < *head.content_range->first))
    return "range ending before its start";
  return std::nullopt;
}

/// The first way of cutting `bytes` into arrivals that gathers another
/// outcome than the whole bytes in one arrival, described; nothing when
/// every cut agrees. Tried: every single cut, every cut into pieces of 1 to
/// 7 bytes, and `arrivals` as given (the cut the input chose). Splits past
/// the head's end and its first eight body bytes cannot change the head
/// and are left out, as are single cuts beyond `max_single` (the fuzzer
/// keeps its inputs' work small).
inline std::optional<std::string> grind_head(std::string_view bytes, const std::vector<std::string_view>& arrivals = {},
                                             std::size_t max_single = std::string_view::npos) {
  const GatheredHead whole = gather_head({bytes});
  if (whole.head)
    if (const auto fault = head_fault(*whole.head)) return "the whole bytes' head: " + *fault;
  const auto differs = [&](const std::vector<std::string_view>& pieces) { return gather_head(pieces) != whole; };

  const std::size_t relevant =
      whole.state == GatheredHead::State::complete ? std::min(bytes.size(), whole.head_length + 8) : bytes.size();
  for (std::size_t at = 1; at < relevant && at <= max_single; ++at)
    if (differs(cut(bytes, {at}))) return "cut at " + std::to_string(at);
  for (std::size_t piece = 1; piece <= 7; ++piece) {
    std::vector<std::size_t> offsets;
    for (std::size_t at = piece; at < relevant; at += piece) offsets.push_back(at);
    if (differs(cut(bytes, offsets))) return "pieces of " + std::to_string(piece);
  }
  if (!arrivals.empty() && differs(arrivals)) return "the input's own arrivals";
  return std::nullopt;
}

}  // namespace vintrel::testing
