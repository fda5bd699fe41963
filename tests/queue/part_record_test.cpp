// The record kept with a local file, and the verdict on a file found under
// a download's name.

#include "queue/part_record.hpp"

#include <gtest/gtest.h>

namespace vintrel::queue {
namespace {

const std::string url = "http://srv/dir/file.bin";

TEST(PartRecord, TextRoundTripsAndCutOrForeignTextIsNoRecord) {
  const PartRecord full{url, "\"abc\"", "Tue, 08 Dec 2026 10:00:00 GMT", 123456789012, true};
  EXPECT_EQ(parse_part_record(format_part_record(full)), full);
  const PartRecord bare{url, {}, {}, -1, false};
  EXPECT_EQ(parse_part_record(format_part_record(bare)), bare);
  // A line end in a value cannot forge a line of its own.
  const PartRecord forged{url + "\ncomplete 1", {}, {}, -1, false};
  EXPECT_FALSE(parse_part_record(format_part_record(forged))->complete);

  const std::string text = format_part_record(full);
  for (const std::string& bad :
       {std::string(), std::string("hello"), text.substr(0, text.find("complete")),
        std::string("vintrel-record 2\ncomplete 1\n"), std::string("vintrel-record 1\nlength -5\ncomplete 0\n"),
        std::string("vintrel-record 1\nlength 12x\ncomplete 0\n"), std::string("vintrel-record 1\ncomplete yes\n")})
    EXPECT_FALSE(parse_part_record(bad)) << bad;
  // Names a later version adds are passed over.
  EXPECT_TRUE(parse_part_record("vintrel-record 1\nurl u\nsha-256 00\ncomplete 0\n"));
}

TEST(PartRecord, ValidatorsComeFromTheAnswerWeakTagsLeftOut) {
  http::ResponseHead ok = http::read_response_head(
      "HTTP/1.1 200 OK\r\nETag: \"v2\"\r\nLast-Modified: Mon, 07 Dec 2026 09:00:00 GMT\r\nContent-Length: 500");
  const Validators v = validators_of(ok, 200);
  EXPECT_EQ(v.etag, "\"v2\"");
  EXPECT_EQ(v.last_modified, "Mon, 07 Dec 2026 09:00:00 GMT");
  EXPECT_EQ(v.length, 500);
  const http::ResponseHead partial = http::read_response_head(
      "HTTP/1.1 206 Partial\r\nETag: W/\"weak\"\r\nContent-Range: bytes 100-499/500\r\nContent-Length: 400");
  EXPECT_EQ(validators_of(partial, 206).etag, "");
  EXPECT_EQ(validators_of(partial, 206).length, 500);
  EXPECT_EQ(validators_of(http::read_response_head("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked"), 200).length, -1);
  // Validators go back to the server: none with a control byte is taken.
  const http::ResponseHead tabbed =
      http::read_response_head("HTTP/1.1 200 OK\r\nETag: \"a\tb\"\r\nLast-Modified: Mon,\x01 07\r\nContent-Length: 5");
  EXPECT_EQ(validators_of(tabbed, 200).etag, "");
  EXPECT_EQ(validators_of(tabbed, 200).last_modified, "");
}

TEST(PartRecord, IfRangeTakesTheTagThenTheDate) {
  EXPECT_EQ(if_range_value({url, "\"t\"", "date", -1, false}), "\"t\"");
  EXPECT_EQ(if_range_value({url, "", "date", -1, false}), "date");
  EXPECT_EQ(if_range_value({url, "", "", -1, false}), "");
}

TEST(PartRecord, NumberedNamesKeepTheExtension) {
  const struct {
    const char* path;
    int n;
    const char* expected;
  } cases[] = {
      {"/d/file.bin", 1, "/d/file (1).bin"}, {"/d/archive.tar.gz", 2, "/d/archive.tar (2).gz"},
      {"/d/README", 3, "/d/README (3)"},     {"/d/.hidden", 1, "/d/.hidden (1)"},
      {"/d.x/noext", 1, "/d.x/noext (1)"},   {"name.", 1, "name (1)."},
  };
  for (const auto& c : cases) EXPECT_EQ(numbered_name(c.path, c.n, '/'), c.expected) << c.path;
}

// What becomes of a file found under a download's name, by its record, its
// size and what the server answers now.
TEST(PartRecord, VerdictTable) {
  using V = PartVerdict;
  const PartRecord tagged{url, "\"a\"", "", 1000, false};
  const PartRecord dated{url, "", "Mon", 1000, false};
  const PartRecord silent{url, "", "", -1, false};
  PartRecord finished = tagged;
  finished.complete = true;
  PartRecord finished_silent = silent;
  finished_silent.complete = true;
  finished_silent.length = 1000;
  PartRecord elsewhere = tagged;
  elsewhere.url = "http://other/file.bin";
  PartRecord elsewhere_silent = silent;
  elsewhere_silent.url = "http://other/file.bin";

  const Validators same_tag{"\"a\"", "", 1000};
  const Validators new_tag{"\"b\"", "", 1000};
  const Validators same_date{"", "Mon", 1000};
  const Validators new_date{"", "Tue", 1000};
  const Validators none{"", "", 1000};
  const Validators longer{"", "", 2000};
  const Validators shrunk{"", "", 200};
  const Validators unknown{"", "", -1};

  const struct {
    const char* what;
    std::optional<PartRecord> record;
    std::int64_t size;
    Validators answer;
    bool adopt;
    V expected;
  } cases[] = {
      {"part, same tag", tagged, 300, same_tag, false, V::resume},
      {"part, new tag", tagged, 300, new_tag, false, V::changed},
      {"part, same date", dated, 300, same_date, false, V::resume},
      {"part, new date", dated, 300, new_date, false, V::changed},
      {"part, tag against date only: the length decides", tagged, 300, same_date, false, V::resume},
      {"part, same tag but another length", tagged, 300, Validators{"\"a\"", "", 2000}, false, V::changed},
      {"part, no validators, same length", silent, 300, none, false, V::resume},
      {"part, no validators, longer file", silent, 300, longer, false, V::resume},
      {"part, file shrank below the part", silent, 300, shrunk, false, V::changed},
      {"part, no length at all", silent, 300, unknown, false, V::resume},
      {"part already whole", tagged, 1000, same_tag, false, V::complete},
      {"empty part", tagged, 0, same_tag, false, V::start_over},
      {"part of another address", elsewhere_silent, 300, none, false, V::another_file},
      {"part of another address, same version", elsewhere, 300, same_tag, false, V::resume},
      {"finished, same tag", finished, 1000, same_tag, false, V::complete},
      {"finished, new tag", finished, 1000, new_tag, false, V::another_file},
      {"finished, no validators, same length", finished_silent, 1000, none, false, V::complete},
      {"finished, no validators, another length", finished_silent, 1000, longer, false, V::another_file},
      {"finished, then cut by someone", finished, 600, same_tag, false, V::another_file},
      {"stranger smaller", std::nullopt, 300, none, false, V::another_file},
      {"stranger same size", std::nullopt, 1000, none, false, V::another_file},
      {"stranger larger", std::nullopt, 3000, none, false, V::another_file},
      {"adopted smaller", std::nullopt, 300, none, true, V::resume},
      {"adopted same size", std::nullopt, 1000, none, true, V::complete},
      {"adopted larger", std::nullopt, 3000, none, true, V::too_large},
      {"adopted, no length", std::nullopt, 3000, unknown, true, V::resume},
      {"adopted empty", std::nullopt, 0, none, true, V::start_over},
      {"own records win over adoption", tagged, 300, new_tag, true, V::changed},
  };
  for (const auto& c : cases) EXPECT_EQ(judge_part(c.record, c.size, c.answer, url, c.adopt), c.expected) << c.what;
}

}  // namespace
}  // namespace vintrel::queue
