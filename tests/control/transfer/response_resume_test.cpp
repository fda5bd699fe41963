// A resume is checked: a part on disk is continued only while the server
// holds the version it was fetched from, a file the control did not write is
// never written to, and a finished file is recognised.

#include <algorithm>

#include "response_rig.hpp"

namespace vintrel {
namespace {

using namespace response_rig;
using control::UserControl1;
using queue::PartRecord;

const std::string date_1 = "Mon, 07 Dec 2026 09:00:00 GMT";
const std::string date_2 = "Tue, 08 Dec 2026 09:00:00 GMT";

struct Checked : Response {
  bool saw(const std::string& event) const {
    return std::find(h.host.events.begin(), h.host.events.end(), event) != h.host.events.end();
  }
  bool told_changed() const { return saw(std::string("OnStatusChange:") + UserControl1::changed_text); }
};

// The server's file now, against a part of 300 bytes of its old version.
struct ChangeCase {
  const char* name;
  std::string record_etag;
  std::string record_date;
  std::string answer_fields;  // validators of the server's file now
  std::size_t size_now;       // its length now
  bool same_version;          // resumed (If-Range: below) or fetched again
  std::string if_range;       // "" for none
};

struct ServerFileChange : Checked, ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ServerFileChange, PartIsResumedOnlyWhileTheVersionHolds) {
  const ChangeCase& change = GetParam();
  const auto old_version = content(1000);
  const auto now = change.same_version ? content(change.size_now) : content(change.size_now, 'q');
  testing::write_part(path, old_version.substr(0, 300),
                      PartRecord{url, change.record_etag, change.record_date, 1000, false});
  connect();
  respond(ok(now, change.answer_fields));
  if (!change.same_version) {
    // The answer's body is the file: written from its first byte at once.
    EXPECT_TRUE(told_changed());
    EXPECT_EQ(status(), "Completed");
    EXPECT_EQ(read_file(path), now);
    EXPECT_EQ(testing::part_record_of(path)->length, static_cast<std::int64_t>(change.size_now));
    return;
  }
  EXPECT_EQ(status(), "pinged");
  const std::string request = connect();
  EXPECT_NE(request.find("\r\nRange: bytes=300-"), std::string::npos);
  if (change.if_range.empty())
    EXPECT_EQ(request.find("If-Range:"), std::string::npos);
  else
    EXPECT_NE(request.find("\r\nIf-Range: " + change.if_range + "\r\n"), std::string::npos) << request;
  respond("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 300-" + std::to_string(now.size() - 1) + "/" +
          std::to_string(now.size()) + "\r\nContent-Length: " + std::to_string(now.size() - 300) + "\r\n" +
          change.answer_fields + "\r\n" + now.substr(300));
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), now);
  EXPECT_FALSE(told_changed());
}

const std::string tag_a = "ETag: \"a\"\r\n";
const std::string tag_b = "ETag: \"b\"\r\n";
INSTANTIATE_TEST_SUITE_P(
    Cases, ServerFileChange,
    ::testing::Values(ChangeCase{"SameTag", "\"a\"", "", tag_a, 1000, true, "\"a\""},
                      ChangeCase{"SameSizeNewTag", "\"a\"", "", tag_b, 1000, false, ""},
                      ChangeCase{"ShrunkBelowThePart", "\"a\"", "", tag_a, 200, false, ""},
                      ChangeCase{"SameDate", "", date_1, "Last-Modified: " + date_1 + "\r\n", 1000, true, date_1},
                      ChangeCase{"NewDate", "", date_1, "Last-Modified: " + date_2 + "\r\n", 1000, false, ""},
                      ChangeCase{"TagPreferredToDate", "\"a\"", date_1, tag_a + "Last-Modified: " + date_2 + "\r\n",
                                 1000, true, "\"a\""},
                      ChangeCase{"WeakTagVouchesForNothing", "", date_1,
                                 "ETag: W/\"a\"\r\nLast-Modified: " + date_1 + "\r\n", 1000, true, date_1},
                      ChangeCase{"NoValidatorsSameLength", "", "", "", 1000, true, ""},
                      ChangeCase{"NoValidatorsAnotherLength", "", "", "", 1500, false, ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Checked, ServerIgnoringIfRangeCannotJoinAnotherVersionToThePart) {
  const auto old_version = content(1000);
  const auto now = content(1000, 'q');
  testing::write_part(path, old_version.substr(0, 300), PartRecord{url, "\"a\"", "", 1000, false});
  connect();
  respond(ok(old_version, tag_a));  // the size answer still saw the old file
  EXPECT_NE(connect().find("If-Range: \"a\""), std::string::npos);
  respond("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 300-999/1000\r\n" + tag_b + "\r\n" + now.substr(300));
  EXPECT_TRUE(told_changed());
  EXPECT_EQ(status(), "pinged");
  EXPECT_EQ(read_file(path), "");
  EXPECT_EQ(connect().find("Range:"), std::string::npos);
  respond(ok(now, tag_b));
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), now);
}

TEST_F(Checked, WholeAnswerToIfRangeStartsFromZero) {
  const auto old_version = content(1000);
  const auto now = content(700, 'q');
  testing::write_part(path, old_version.substr(0, 300), PartRecord{url, "\"a\"", "", 1000, false});
  connect();
  respond(ok(old_version, tag_a));
  connect();
  respond(ok(now, tag_b));  // If-Range did not match: the whole new file
  EXPECT_TRUE(told_changed());
  EXPECT_EQ(status(), "Completed");
  EXPECT_EQ(read_file(path), now);
  EXPECT_EQ(testing::part_record_of(path)->etag, "\"b\"");
}

TEST_F(Checked, RecordIsWrittenBeforeTheFirstBodyByteAndCompletedAtTheEnd) {
  const auto body = content(2000);
  connect();
  respond(ok(body, tag_a + "Last-Modified: " + date_1 + "\r\n").substr(0, 200));
  // A kill now leaves a part that says what it is.
  const auto record = testing::part_record_of(path);
  ASSERT_TRUE(record);
  EXPECT_EQ(*record, (PartRecord{url, "\"a\"", date_1, 2000, false}));
  // A broken connection resumes with If-Range, within the same run.
  h.winsock().peer_close(1);
  const auto on_disk = read_file(path).size();
  EXPECT_NE(connect().find("Range: bytes=" + std::to_string(on_disk) + "-2000\r\nIf-Range: \"a\"\r\n"),
            std::string::npos);
  respond("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(on_disk) +
          "-1999/2000\r\nContent-Length: " + std::to_string(2000 - on_disk) + "\r\n" + tag_a + "\r\n" +
          body.substr(on_disk));
  EXPECT_EQ(read_file(path), body);
  EXPECT_TRUE(testing::part_record_of(path)->complete);
}

// A file without the control's record is never written to: the download
// takes the first free name and says so in its events.
TEST_F(Checked, StrangersKeepTheirFilesWhateverTheirSize) {
  const auto body = content(1000);
  // Of every size; 0: the control's own part, but of another address.
  for (const std::size_t size : {300u, 1000u, 3000u, 0u}) {
    testing::TempFolder folder;
    testing::ControlHarness run;
    const std::string stranger = folder.file("file.bin");
    const std::string taken = folder.file("file (1).bin");
    if (size == 0)
      testing::write_part(stranger, content(size, 'z'), "http://elsewhere/file.bin");
    else
      write_file(stranger, content(size, 'z'));
    write_file(taken, "also taken");
    run.start({url}, folder.path().string());
    run.send_request();
    run.winsock().deliver(1, ok(body));
    EXPECT_EQ(read_file(stranger), content(size, 'z')) << size;
    EXPECT_EQ(read_file(taken), "also taken");
    EXPECT_EQ(read_file(folder.file("file (2).bin")), body) << size;
    EXPECT_EQ(run.control.dCurrentFileName(), folder.file("file (2).bin"));
    run.tick();
    EXPECT_EQ(run.host.events.back(), "OnFileComplete:" + folder.file("file (2).bin"));
  }
}

TEST_F(Checked, OwnPartUnderAFreeNameIsResumedThere) {
  const auto body = content(1000);
  write_file(path, "a stranger");
  const std::string copy = dir.file("file (1).bin");
  testing::write_part(copy, body.substr(0, 400), url);
  connect();
  respond(ok(body));
  EXPECT_NE(connect().find("Range: bytes=400-"), std::string::npos);
  respond("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 400-999/1000\r\n\r\n" + body.substr(400));
  EXPECT_EQ(read_file(copy), body);
  EXPECT_EQ(read_file(path), "a stranger");
}

TEST_F(Checked, RedirectionOfTheRangeToAStrangersNameTakesAFreeName) {
  const auto body = content(1000);
  own_part(body.substr(0, 400));
  write_file(dir.file("other.bin"), "a stranger");
  connect();
  respond(ok(body));
  EXPECT_NE(connect().find("Range: bytes=400-"), std::string::npos);
  respond("HTTP/1.1 302 Found\r\nLocation: /other.bin\r\n\r\n");
  EXPECT_EQ(connect().find("Range:"), std::string::npos);
  respond(ok(body));
  EXPECT_EQ(read_file(dir.file("other.bin")), "a stranger");
  EXPECT_EQ(read_file(dir.file("other (1).bin")), body);
}

TEST_F(Checked, FinishedFileIsCompleteWhileTheServerHoldsItAndKeptWhenNot) {
  const auto body = content(1000);
  testing::write_part(path, body, PartRecord{url, "\"a\"", "", 1000, true});
  connect();
  respond(ok(body, tag_a));
  EXPECT_TRUE(saw(std::string("OnStatusChange:") + UserControl1::already_complete_text));
  EXPECT_EQ(status(), "Completed");
  EXPECT_TRUE(closed());
  EXPECT_EQ(c.dPercentComplete(), "100");

  // The server's file changed since: the new version goes beside it.
  const auto now = content(1000, 'q');
  testing::TempFolder folder;
  testing::ControlHarness run;
  testing::write_part(folder.file("file.bin"), body, PartRecord{url, "\"a\"", "", 1000, true});
  run.start({url}, folder.path().string());
  run.send_request();
  run.winsock().deliver(1, ok(now, tag_b));
  EXPECT_EQ(read_file(folder.file("file.bin")), body);
  EXPECT_EQ(read_file(folder.file("file (1).bin")), now);
}

TEST_F(Checked, ContinueTakesAStrangersPartButNotALongerFile) {
  const auto body = content(1000);
  c.set_adopt_foreign_parts(true);
  write_file(path, content(1500, 'z'));
  connect();
  respond(ok(body));
  EXPECT_NE(status(), "Completed");
  EXPECT_NE(c.theerrdesc.find("larger than the server's file"), std::string::npos);
  EXPECT_EQ(read_file(path), content(1500, 'z'));
}

}  // namespace
}  // namespace vintrel
