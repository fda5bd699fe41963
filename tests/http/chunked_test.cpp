// The chunked body's decoder, fed however the bytes arrive.

#include "http/chunked.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/grind.hpp"

namespace vintrel::http {
namespace {

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

using Decoded = std::pair<ChunkedDecoder::Result, std::string>;

// Decodes a body as it arrives, stopping at the first arrival that ends it.
Decoded decode(const std::vector<std::string_view>& arrivals) {
  ChunkedDecoder decoder;
  Decoded decoded{ChunkedDecoder::Result::need_more, ""};
  for (const auto arrival : arrivals) {
    decoded.first = decoder.feed(bytes_of(arrival),
                                 [&](std::span<const std::uint8_t> p) { decoded.second.append(p.begin(), p.end()); });
    if (decoded.first != ChunkedDecoder::Result::need_more) break;
  }
  return decoded;
}

Decoded decode(std::string_view body) { return decode(std::vector<std::string_view>{body}); }

TEST(ChunkedDecoder, DecodesWholeByteByByteAndSplitAtEveryOffset) {
  const std::string body =
      "5\r\nhello\r\n1;ext=1\r\n \r\n10\r\n0123456789abcdef\r\n0\r\nX-Trailer: 1\r\n\r\ntrailing junk";
  EXPECT_EQ(decode(body), Decoded(ChunkedDecoder::Result::done, "hello 0123456789abcdef"));
  const auto decode_arrivals = [](const std::vector<std::string_view>& arrivals) { return decode(arrivals); };
  EXPECT_EQ(testing::grind(body, decode_arrivals), std::nullopt);
}

// A body cut short is never a whole one, and a broken byte anywhere (size
// line, extension, data, line end, trailer) gives the same outcome however
// the bytes arrive.
TEST(ChunkedDecoder, CutOrBrokenBodiesFailOrDecodeTheSameHoweverTheyArrive) {
  const auto decode_arrivals = [](const std::vector<std::string_view>& arrivals) { return decode(arrivals); };
  const auto unfinished = [](const Decoded& decoded) { return decoded.first != ChunkedDecoder::Result::done; };
  for (const std::string_view body :
       {"5\r\nhello\r\n1;ext=1\r\n \r\nA\r\n0123456789\r\n0\r\nX: 1\r\n\r\n", "3\r\nabc\r\n0\r\n\r\n"}) {
    // Framing is never data: fewer bytes come out than went in.
    const auto fault = [&](const Decoded& decoded) -> std::optional<std::string> {
      if (decoded.second.size() >= body.size()) return "more data than bytes: " + decoded.second;
      return std::nullopt;
    };
    EXPECT_EQ(testing::failgrind(body, decode_arrivals, unfinished, fault), std::nullopt) << body;
  }
}

TEST(ChunkedDecoder, CutOffBodyWaitsForMore) {
  const auto [result, out] = decode("5\r\nhel");
  EXPECT_EQ(result, ChunkedDecoder::Result::need_more);
  EXPECT_EQ(out, "hel");
}

TEST(ChunkedDecoder, BadSizeLinesAndOverflowAreErrors) {
  EXPECT_EQ(decode("zz\r\nhello\r\n0\r\n\r\n").first, ChunkedDecoder::Result::error);
  EXPECT_EQ(decode("\r\n").first, ChunkedDecoder::Result::error);
  EXPECT_EQ(decode("3\r\nabcdef\r\n").first, ChunkedDecoder::Result::error);  // longer than its size
  EXPECT_EQ(decode("10000000000000000\r\n").first, ChunkedDecoder::Result::error);
  // Sixteen hex digits still fit.
  EXPECT_EQ(decode("FFFFFFFFFFFFFFFF\r\nab").first, ChunkedDecoder::Result::need_more);
  EXPECT_EQ(decode("00000000000000000003\r\nabc\r\n0\r\n\r\n").second, "abc");
}

}  // namespace
}  // namespace vintrel::http
