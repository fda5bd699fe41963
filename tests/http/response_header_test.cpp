// The response head as a value: read_response_head over the head's text and
// scan_head over the bytes gathered so far, with no socket and no control.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <utility>

#include "fuzz/response_heads.hpp"
#include "http/response_header.hpp"
#include "support/grind.hpp"

namespace vintrel::http {
namespace {

using testing::gather_head;
using testing::GatheredHead;
using testing::grind_head;

std::string read_seed(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The seeds of response_fuzz, by name.
std::vector<std::pair<std::string, std::string>> response_seeds() {
  std::vector<std::pair<std::string, std::string>> seeds;
  const auto corpus = std::filesystem::path(VINTREL_TESTS_DIR) / "fuzz/corpus/response_fuzz";
  if (!std::filesystem::is_directory(corpus)) return seeds;
  for (const auto& entry : std::filesystem::directory_iterator(corpus))
    seeds.emplace_back(entry.path().filename().string(), read_seed(entry.path()));
  std::sort(seeds.begin(), seeds.end());
  return seeds;
}

// The whole connection's bytes, the input's own cuts left out.
std::string joined(const std::vector<std::string_view>& arrivals) {
  std::string bytes;
  for (const auto arrival : arrivals) bytes.append(arrival);
  return bytes;
}

ResponseHead head_of(std::string_view text) { return read_response_head(text); }

TEST(ResponseHead, AnOrdinaryAnswer) {
  const auto head = head_of(
      "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 100-199/1000\r\nContent-Length: 100\r\n"
      "Location: /elsewhere\r\nServer: x");
  EXPECT_EQ(head.status_line, "HTTP/1.1 206 Partial Content");
  EXPECT_EQ(head.status, 206);
  EXPECT_EQ(head.reason, "Partial Content");
  EXPECT_TRUE(head.length_given);
  EXPECT_EQ(head.content_length, 100.0);
  EXPECT_EQ(head.exact_length, 100);
  EXPECT_EQ(head.size_check_length, 100.0);
  EXPECT_FALSE(head.chunked);
  EXPECT_EQ(head.content_range, (ContentRange{100, 199, 1000}));
  EXPECT_EQ(head.location, "/elsewhere");
}

TEST(ResponseHead, NothingGivenIsNothingRead) {
  const auto head = head_of("HTTP/1.1 200 OK\r\nServer: x");
  EXPECT_EQ(head.status, 200);
  EXPECT_FALSE(head.length_given);
  EXPECT_EQ(head.content_length, std::nullopt);
  EXPECT_EQ(head.exact_length, std::nullopt);
  EXPECT_EQ(head.size_check_length, std::nullopt);
  EXPECT_EQ(head.content_range, std::nullopt);
  EXPECT_EQ(head.location, std::nullopt);
  EXPECT_EQ(head_of("HTTP/1.1 302 Found\r\nLocation:").location, "");  // given, and empty
}

TEST(ResponseHead, TheLengthIsTheFirstLineCarryingItsExactCapitals) {
  // Other capitals are no length line at all.
  EXPECT_FALSE(head_of("HTTP/1.1 200 OK\r\ncontent-length: 5").length_given);
  // The first line carrying the name, wherever it is in the line.
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nX-Content-Length: 7\r\nContent-Length: 9").content_length, 7.0);
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 50").content_length, 5.0);
  // The status line too: its text after the first space is no number.
  const auto in_status = head_of("HTTP/1.1 200 Content-Length: 5\r\nContent-Length: 9");
  EXPECT_TRUE(in_status.length_given);
  EXPECT_EQ(in_status.content_length, std::nullopt);
  // Its text after the first space: without a space after the colon,
  // "Content-Length:5" is the whole text and no number, but the line was
  // given ("Determining File Size" is said).
  const auto no_space = head_of("HTTP/1.1 200 OK\r\nContent-Length:5");
  EXPECT_TRUE(no_space.length_given);
  EXPECT_EQ(no_space.content_length, std::nullopt);
}

TEST(ResponseHead, LengthsAreReadAsTheRuntimeReadsNumbers) {
  const auto length = [](std::string_view text) {
    return head_of("HTTP/1.1 200 OK\r\nContent-Length: " + std::string(text) + "\r\nX: 1");
  };
  EXPECT_EQ(length("&H10").content_length, 16.0);
  EXPECT_EQ(length("&H10").exact_length, std::nullopt);
  EXPECT_EQ(length("1e3").content_length, 1000.0);
  EXPECT_EQ(length("1e3").exact_length, std::nullopt);
  EXPECT_EQ(length("  42  ").content_length, 42.0);
  EXPECT_EQ(length("  42  ").exact_length, 42);
  EXPECT_EQ(length("0042").exact_length, 42);
  EXPECT_EQ(length("-5").content_length, std::nullopt);
  EXPECT_EQ(length("-5").exact_length, std::nullopt);
  EXPECT_EQ(length("five").content_length, std::nullopt);
  EXPECT_EQ(length("").content_length, std::nullopt);
  EXPECT_EQ(length("1e400").content_length, std::nullopt);  // overflow
  EXPECT_EQ(length("9223372036854775807").exact_length, std::numeric_limits<std::int64_t>::max());
  // Beyond 64 bits: a number, roughly, but no exact length.
  EXPECT_EQ(length("99999999999999999999").content_length, 1e20);
  EXPECT_EQ(length("99999999999999999999").exact_length, std::nullopt);
}

TEST(ResponseHead, TheSizeCheckReadsSixteenCharactersPastTheName) {
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nContent-Length: 12\r\nX: 1").size_check_length, 12.0);
  // Without the space the first digit is lost.
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nContent-Length:123\r\nX: 1").size_check_length, 23.0);
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nContent-Length:5\r\nX: 1").size_check_length, std::nullopt);
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nContent-Length:5").size_check_length, std::nullopt);
  // The first "Content-Length" of the head, in any line.
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nX-Content-Length: 7\r\nContent-Length: 9").size_check_length, 7.0);
  // The name at the very end of the head: nothing past it.
  EXPECT_EQ(head_of("HTTP/1.1 200 OK\r\nContent-Length").size_check_length, std::nullopt);
}

TEST(ResponseHead, ChunkedRangeAndLocationAreReadByName) {
  const auto head =
      head_of("HTTP/1.1 200 OK\r\ncontent-range:  bytes */5000 \r\nTRANSFER-ENCODING: gzip, chunked\r\nlocation: x");
  EXPECT_TRUE(head.chunked);
  EXPECT_EQ(head.content_range, (ContentRange{std::nullopt, std::nullopt, 5000}));
  EXPECT_EQ(head.location, "x");
  EXPECT_EQ(head_of("HTTP/1.1 206 X\r\nContent-Range: bytes 9-1/20").content_range, std::nullopt);
}

TEST(ResponseHead, UnreadableAnswersKeepTheirStatusLine) {
  for (const std::string_view text : std::initializer_list<std::string_view>{
           "garbage", "", "HTTP/1.1  200 OK", "HTTP/1.1 2OO OK", "HTTP/1.1 1000 Big", "HTTP/1.1 -1 No",
           std::string_view("HTTP/1.1 \0 200", 14)}) {
    const auto head = head_of(text);
    EXPECT_EQ(head.status, std::nullopt) << text;
    EXPECT_EQ(head.status_line, text);
  }
  EXPECT_EQ(head_of("ICY 200 OK\r\n").status, 200);
}

TEST(ResponseHead, LineFeedsAloneEndNoLine) {
  const auto lf_only = head_of("HTTP/1.1 200 OK\nContent-Length: 10\nLocation: x");
  EXPECT_EQ(lf_only.status, 200);
  EXPECT_EQ(lf_only.status_line, "HTTP/1.1 200 OK\nContent-Length: 10\nLocation: x");
  EXPECT_EQ(lf_only.location, std::nullopt);
}

TEST(ResponseHead, BytesThatAreNotTextAreReadAsTheyCome) {
  const char raw[] = "HTTP/1.1 200 \xff\0OK\r\nLocation: \x01\0\x7f\r\nContent-Length: 3\0";
  const std::string text(raw, sizeof raw - 1);
  const auto head = head_of(text);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.reason, std::string("\xff\0OK", 4));
  EXPECT_EQ(head.location, std::string("\x01\0\x7f", 3));
  EXPECT_EQ(head.content_length, std::nullopt);
  EXPECT_TRUE(head.length_given);
}

TEST(ResponseHead, ItsFieldsAreTheNamedParsersReadings) {
  const auto seeds = response_seeds();
  if (seeds.empty()) GTEST_SKIP() << "no corpus";
  for (const auto& [name, seed] : seeds) {
    for (const auto& arrivals : testing::response_connections(seed)) {
      const std::string bytes = joined(arrivals);
      const auto end = find_header_end(bytes);
      if (end == std::string::npos) continue;
      const std::string_view text = std::string_view(bytes).substr(0, end);
      const auto head = head_of(text);
      const auto status_line = text.substr(0, text.find("\r\n"));
      EXPECT_EQ(head.status_line, status_line) << name;
      EXPECT_EQ(head.status, status_code(status_line)) << name;
      EXPECT_EQ(head.reason, reason_phrase(status_line)) << name;
      EXPECT_EQ(head.chunked, is_chunked(text)) << name;
      EXPECT_EQ(head.location, field_value(text, "Location")) << name;
      EXPECT_EQ(head.repr_digest, field_values(text, "Repr-Digest")) << name;
      EXPECT_EQ(head.digest, field_values(text, "Digest")) << name;
      const auto range = field_value(text, "Content-Range");
      EXPECT_EQ(head.content_range, range ? parse_content_range(*range) : std::nullopt) << name;
    }
  }
}

TEST(ResponseHeader, StatusCodeIsTheSecondPieceAndTheVersionIsNeverExamined) {
  EXPECT_EQ(status_code("HTTP/1.1 206 Partial Content Here"), 206);
  EXPECT_EQ(status_code("ICY 200 OK"), 200);
  EXPECT_EQ(status_code("HTTP/1.1 404"), 404);
  EXPECT_EQ(status_code("HTTP/1.1"), std::nullopt);
  EXPECT_EQ(status_code("HTTP/1.1  200 OK"), std::nullopt);  // split at single spaces
  EXPECT_EQ(status_code("HTTP/1.1 OK 200"), std::nullopt);
  EXPECT_EQ(reason_phrase("HTTP/1.1 404 Not Found"), "Not Found");
  EXPECT_EQ(reason_phrase("HTTP/1.1 404"), "");
}

TEST(ResponseHeader, FieldsByNameInAnyCaseAndChunkedCoding) {
  const std::string header = "HTTP/1.1 200 OK\r\nlocation:  /x \r\nTransfer-Encoding: gzip, Chunked";
  EXPECT_EQ(field_value(header, "Location"), "/x");
  EXPECT_EQ(field_value(header, "Content-Length"), std::nullopt);
  EXPECT_TRUE(is_chunked(header));
  EXPECT_FALSE(is_chunked("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip"));
  EXPECT_FALSE(is_chunked("HTTP/1.1 200 OK\r\nX-Transfer-Encoding: chunked"));
  EXPECT_EQ(find_header_end("HTTP/1.1 200 OK\r\nA: b\r\n\r\nbody"), 21u);
  EXPECT_EQ(find_header_end("HTTP/1.1 200 OK\r\n\r"), std::string::npos);
}

TEST(ResponseHeader, ContentRangeForms) {
  const auto r = parse_content_range("bytes 100-199/1000");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->first, 100);
  EXPECT_EQ(r->last, 199);
  EXPECT_EQ(r->total, 1000);
  const auto star = parse_content_range("bytes */5000");
  ASSERT_TRUE(star);
  EXPECT_EQ(star->first, std::nullopt);
  EXPECT_EQ(star->total, 5000);
  EXPECT_EQ(parse_content_range("bytes 0-99/*")->total, std::nullopt);
  EXPECT_FALSE(parse_content_range("items 0-1/2"));
  EXPECT_FALSE(parse_content_range("bytes 9-1/20"));
  EXPECT_FALSE(parse_content_range("bytes x-1/20"));
}

// Whole values read from a head's text: whatever is cut off or broken, a
// range read keeps its order and a status stays three digits at most.
TEST(ResponseHeader, CutOrBrokenValuesAreRefusedOrReadSoundly) {
  const auto refused = [](const auto& outcome) { return !outcome; };
  const auto range_fault = [](const std::optional<ContentRange>& range) -> std::optional<std::string> {
    if (range && range->first && (!range->last || *range->last < *range->first))
      return "a range ending before it starts";
    return std::nullopt;
  };
  for (const std::string_view value : {"bytes 100-199/1000", "bytes */5000", "bytes 0-99/*"})
    EXPECT_EQ(testing::failgrind(value, parse_content_range, refused, range_fault), std::nullopt) << value;
  const auto status_fault = [](const std::optional<int>& status) -> std::optional<std::string> {
    if (status && (*status < 0 || *status > 999)) return "status " + std::to_string(*status);
    return std::nullopt;
  };
  for (const std::string_view line : {"HTTP/1.1 206 Partial Content", "HTTP/1.1 404"})
    EXPECT_EQ(testing::failgrind(line, status_code, refused, status_fault), std::nullopt) << line;
}

TEST(ScanHead, TheBlankLineSplitBetweenArrivalsIsFound) {
  const std::string text = "HTTP/1.1 200 OK\r\nA: b\r\n\r\nbody";
  EXPECT_EQ(scan_head(text), (HeadScan{21, false}));
  // Any arrival that brought the blank line's last byte or more of it.
  for (std::size_t arrived = 0; arrived <= 24; ++arrived)
    EXPECT_EQ(scan_head(std::string_view(text).substr(0, 25), arrived), (HeadScan{21, false})) << arrived;
  EXPECT_EQ(scan_head("HTTP/1.1 200 OK\r\n\r"), (HeadScan{std::nullopt, false}));
  EXPECT_EQ(scan_head(""), (HeadScan{std::nullopt, false}));
  EXPECT_EQ(scan_head("\r\n\r\n"), (HeadScan{0, false}));
}

TEST(ScanHead, AHeadIsTooLargePastItsLimitBlankLineIncluded) {
  const auto filled = [](std::size_t size) {
    std::string text = "HTTP/1.1 200 OK\r\nX: ";
    text.resize(size, 'y');
    return text;
  };
  // Without a blank line: the gathered bytes themselves.
  EXPECT_FALSE(scan_head(filled(max_header_size)).too_large);
  EXPECT_TRUE(scan_head(filled(max_header_size + 1)).too_large);
  // With one: the head up to it, body bytes behind it not counted.
  const std::string fits = filled(max_header_size - 4) + "\r\n\r\n";
  EXPECT_EQ(scan_head(fits + "body"), (HeadScan{max_header_size - 4, false}));
  EXPECT_EQ(scan_head(filled(max_header_size - 3) + "\r\n\r\n"), (HeadScan{max_header_size - 3, true}));
}

// Beast's parsegrind: every seed of the fuzzer, every connection of it, cut
// at every offset (and into pieces of 1 to 7 bytes, and as the seed cuts it)
// gathers the head the whole bytes gather.
TEST(ResponseHeadGrind, EverySeedGivesTheSameHeadHoweverItIsCut) {
  const auto seeds = response_seeds();
  if (seeds.empty()) GTEST_SKIP() << "no corpus";
  int heads = 0;
  for (const auto& [name, seed] : seeds) {
    for (const auto& arrivals : testing::response_connections(seed)) {
      const std::string bytes = joined(arrivals);
      const auto broken = grind_head(bytes, arrivals);
      EXPECT_FALSE(broken) << name << ": " << *broken;
      if (gather_head({bytes}).head) ++heads;
    }
  }
  EXPECT_GE(seeds.size(), 38u);
  EXPECT_GE(heads, 74);
}

// Beast's failgrind: bytes that make no head make none however they are
// cut, and a head that is too large is too large at every cut.
TEST(ResponseHeadGrind, BadBytesFailTheSameHoweverTheyAreCut) {
  std::string huge = "HTTP/1.1 200 OK\r\nX-Filler: ";
  huge.resize(max_header_size + 10, 'y');
  const std::string huge_with_end = huge + "\r\n\r\nbody";
  const std::vector<std::string> bad = {
      "HTTP/1.1 200 OK\nContent-Length: 10\n\n0123456789",  // line feeds only: never complete
      "HTTP/1.1 200 OK\r\n\r",                              // cut before the blank line ends
      "HTTP/1.1 200 OK\r\r\n\n\r\n",
      "\r\n\r\n",  // an empty head
      "HTTP/1.1 2OO OK\r\n\r\nxx",
      std::string("\0\0\0\r\n\0\r\n\r\n", 10),
  };
  for (const auto& bytes : bad) EXPECT_FALSE(grind_head(bytes)) << bytes;
  EXPECT_EQ(gather_head({bad[0]}).state, GatheredHead::State::incomplete);
  EXPECT_EQ(gather_head({bad[3]}).head->status, std::nullopt);
  EXPECT_EQ(gather_head({bad[4]}).head->status, std::nullopt);

  // Any cut or broken byte of an ordinary head: an incomplete head is never
  // taken for a whole one, and each gathers alike however it arrives.
  const auto gather = [](const std::vector<std::string_view>& arrivals) { return gather_head(arrivals); };
  const auto no_head = [](const GatheredHead& gathered) { return !gathered.head; };
  const auto fault = [](const GatheredHead& gathered) {
    return gathered.head ? testing::head_fault(*gathered.head) : std::nullopt;
  };
  const std::string head =
      "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 1-2/3\r\nContent-Length: 2\r\nLocation: /x\r\n\r\nab";
  EXPECT_EQ(testing::failgrind(head, gather, no_head, fault), std::nullopt);

  // Too large: cut everywhere near the limit and coarsely elsewhere.
  for (const std::string* bytes : {&std::as_const(huge), &huge_with_end}) {
    EXPECT_EQ(gather_head({*bytes}).state, GatheredHead::State::too_large);
    for (std::size_t at = 1; at < bytes->size(); at += at + 64 < max_header_size ? 4093 : 1)
      EXPECT_EQ(gather_head(testing::cut(*bytes, {at})).state, GatheredHead::State::too_large) << at;
  }
}

}  // namespace
}  // namespace vintrel::http
