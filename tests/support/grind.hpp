#pragma once
// Feeding a parser every way a network can deliver a message, after Beast's
// parsegrind and failgrind. A parser under test is a function that takes
// either the arrivals (std::vector<std::string_view>, in order) and reads
// them as a connection would, or the whole text (std::string_view) when it
// only ever sees whole values; it returns an outcome that compares with ==.
//
// grind: the message whole, byte by byte, and split in two at every offset
// gives the outcome of the message whole.
// failgrind: every truncation and every single-byte corruption of the
// message either fails cleanly or parses the same however it is cut (and a
// parser fed arrivals never takes a truncated message for the whole one);
// `fault` names what is wrong with an outcome on its own, for the invariants
// a clean result keeps. Under the sanitizers the same walk finds reads past
// the end.
//
// Both return the first feeding that went wrong, described, or nothing.

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vintrel::testing {

/// The arrivals of a message cut at `offsets`, in increasing order.
inline std::vector<std::string_view> cut_at(std::string_view bytes, const std::vector<std::size_t>& offsets) {
  std::vector<std::string_view> pieces;
  std::size_t from = 0;
  for (const std::size_t at : offsets) {
    pieces.push_back(bytes.substr(from, at - from));
    from = at;
  }
  pieces.push_back(bytes.substr(from));
  return pieces;
}

/// The arrivals of a message in pieces of `size` bytes.
inline std::vector<std::string_view> pieces_of(std::string_view bytes, std::size_t size) {
  std::vector<std::size_t> offsets;
  for (std::size_t at = size; at < bytes.size(); at += size) offsets.push_back(at);
  return cut_at(bytes, offsets);
}

/// True for a parser fed arrivals rather than the whole text.
template <class Parse>
inline constexpr bool reads_arrivals = std::is_invocable_v<const Parse&, const std::vector<std::string_view>&>;

/// The outcome of `bytes` arriving at once.
template <class Parse>
auto parse_whole(const Parse& parse, std::string_view bytes) {
  if constexpr (reads_arrivals<Parse>)
    return parse(std::vector<std::string_view>{bytes});
  else
    return parse(bytes);
}

/// The first way of feeding `bytes` that does not give the outcome of the
/// whole bytes: byte by byte, or split in two at one offset. A parser of
/// whole texts has nothing to split.
template <class Parse>
std::optional<std::string> grind(std::string_view bytes, const Parse& parse) {
  if constexpr (reads_arrivals<Parse>) {
    const auto whole = parse_whole(parse, bytes);
    const auto differs = [&](const std::vector<std::string_view>& arrivals) {
      const auto outcome = parse(arrivals);
      return outcome == whole ? std::optional<std::string>()
                              : ::testing::PrintToString(outcome) + " instead of " + ::testing::PrintToString(whole);
    };
    if (const auto wrong = differs(pieces_of(bytes, 1))) return "byte by byte: " + *wrong;
    for (std::size_t at = 1; at < bytes.size(); ++at)
      if (const auto wrong = differs(cut_at(bytes, {at}))) return "split at " + std::to_string(at) + ": " + *wrong;
  } else {
    (void)parse_whole(parse, bytes);
  }
  return std::nullopt;
}

/// Nothing is wrong with any outcome on its own.
struct NoFault {
  template <class Outcome>
  std::optional<std::string> operator()(const Outcome&) const {
    return std::nullopt;
  }
};

/// The bytes a corruption puts in place of each byte: the separators and
/// ends parsers look for, a digit, a byte that is not text, and the byte
/// with its letter case (bit 0x20) turned over.
inline std::vector<char> corruptions_of(char original) {
  std::vector<char> bytes;
  for (const char c :
       {'\0', '\r', '\n', ' ', ':', ';', '=', '/', '[', ']', '0', '9', '\xff', static_cast<char>(original ^ 0x20)})
    if (c != original) bytes.push_back(c);
  return bytes;
}

/// Every truncation and single-byte corruption of `bytes` gives the same
/// outcome however it is cut, failed (`fails`) or parsed, and no outcome
/// has a `fault`. A truncation fed as arrivals must also fail (it is an
/// incomplete message) or give the whole message's outcome (what was cut
/// off was not part of it).
template <class Parse, class Fails, class Fault = NoFault>
std::optional<std::string> failgrind(std::string_view bytes, const Parse& parse, const Fails& fails,
                                     const Fault& fault = {}) {
  const auto whole = parse_whole(parse, bytes);
  const auto check = [&](std::string_view variant, bool truncated) -> std::optional<std::string> {
    const auto outcome = parse_whole(parse, variant);
    if (const auto why = fault(outcome)) return *why;
    if constexpr (reads_arrivals<Parse>)
      if (truncated && !fails(outcome) && !(outcome == whole))
        return "taken for a whole message: " + ::testing::PrintToString(outcome);
    return grind(variant, parse);
  };
  if (const auto why = fault(whole)) return "the whole message: " + *why;
  for (std::size_t length = 0; length < bytes.size(); ++length)
    if (const auto wrong = check(bytes.substr(0, length), true))
      return "cut to " + std::to_string(length) + " bytes: " + *wrong;
  std::string variant(bytes);
  for (std::size_t at = 0; at < variant.size(); ++at) {
    const char original = variant[at];
    for (const char c : corruptions_of(original)) {
      variant[at] = c;
      if (const auto wrong = check(variant, false))
        return "byte " + std::to_string(at) + " made " + ::testing::PrintToString(c) + ": " + *wrong;
    }
    variant[at] = original;
  }
  return std::nullopt;
}

}  // namespace vintrel::testing
