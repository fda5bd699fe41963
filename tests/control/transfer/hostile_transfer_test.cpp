// Servers that misbehave, plainly and over TLS: every case ends with the
// file byte-identical to the server's, or stopped with a clear error and
// nothing wrong on disk.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/hostile_server.hpp"
#include "support/live_control.hpp"
#include "support/part_files.hpp"
#include "support/temp_folder.hpp"
#include "support/test_ca.hpp"

namespace vintrel {
namespace {

using namespace std::chrono_literals;
using testing::http_response;
using testing::read_file;
using testing::Script;

std::string file_bytes(std::size_t size) {
  std::string s(size, '\0');
  std::uint32_t x = 2463534242u;
  for (auto& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

const std::string body = file_bytes(20000);

std::string ok(std::string_view content = body) {
  return http_response(200, "OK", {{"Content-Length", std::to_string(content.size())}}, content);
}
std::string partial(std::size_t from) {
  return http_response(206, "Partial Content",
                       {{"Content-Range", "bytes " + std::to_string(from) + "-" + std::to_string(body.size() - 1) +
                                              "/" + std::to_string(body.size())},
                        {"Content-Length", std::to_string(body.size() - from)}},
                       std::string_view(body).substr(from));
}
std::string header_only(int status, std::string_view reason, std::vector<std::pair<std::string, std::string>> fields) {
  return http_response(status, reason, std::move(fields), "");
}

struct HostileCase {
  HostileCase(std::string name_, std::vector<Script> scripts_, std::optional<std::string> on_disk_,
              std::optional<std::string> completed_, std::int32_t stopped_with_ = 0, std::string file_ = "file.bin",
              std::string range_in_request_ = "")
      : name(std::move(name_)),
        scripts(std::move(scripts_)),
        on_disk(std::move(on_disk_)),
        completed(std::move(completed_)),
        stopped_with(stopped_with_),
        file(std::move(file_)),
        range_in_request(std::move(range_in_request_)) {}

  std::string name;
  std::vector<Script> scripts;
  std::optional<std::string> on_disk;    // local file before the run
  std::optional<std::string> completed;  // expected content when the file completes
  std::int32_t stopped_with;             // expected error number when it stops instead
  std::string file;                      // local name the content ends under
  std::string range_in_request;          // a Range value the requests must show
  bool missing_folder = false;
};

std::vector<HostileCase> cases() {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n";
  std::vector<HostileCase> all;
  all.push_back(HostileCase{"HeaderIn20BytePieces", {Script().wait_request().send(ok(), 20, 1ms).close()}, {}, body});
  all.push_back(HostileCase{"BlankLineSplit",
                            {Script()
                                 .wait_request()
                                 .send(head.substr(0, head.size() - 2))
                                 .delay(30ms)
                                 .send("\r\n")
                                 .delay(30ms)
                                 .send(body)
                                 .close()},
                            {},
                            body});
  all.push_back(HostileCase{"WholeAnswerToARangeRequest",
                            {Script().wait_request().send(ok()).close()},
                            std::string(body.substr(0, 7000)),
                            body});
  all.push_back(
      HostileCase{"PartialAnswerAppended",
                  {Script().wait_request().send(ok()).close(), Script().wait_request().send(partial(7000)).close()},
                  std::string(body.substr(0, 7000)),
                  body,
                  0,
                  "file.bin",
                  "bytes=7000-20000"});
  all.push_back(HostileCase{"LengthLargerThanBodyThenCloseIsResumed",
                            {Script().wait_request().send(head + body.substr(0, 12000)).delay(30ms).close(),
                             Script().wait_request().send(partial(12000)).close()},
                            {},
                            body,
                            0,
                            "file.bin",
                            "bytes=12000-20000"});
  all.push_back(
      HostileCase{"BodyLongerThanItsLength", {Script().wait_request().send(ok() + "SURPLUS").close()}, {}, body});
  all.push_back(HostileCase{"NoLengthEndsAtTheClose",
                            {Script().wait_request().send("HTTP/1.1 200 OK\r\n\r\n" + body, 4096, 2ms).close()},
                            {},
                            body});
  all.push_back(HostileCase{
      "Chunked",
      {Script()
           .wait_request()
           .send(http_response(200, "OK", {{"Transfer-Encoding", "chunked"}}, testing::chunked(body, 777)), 100)
           .close()},
      {},
      body});
  all.push_back(HostileCase{"CutOffChunkedIsResumed",
                            {Script()
                                 .wait_request()
                                 .send(http_response(200, "OK", {{"Transfer-Encoding", "chunked"}},
                                                     testing::chunked(body, 1000).substr(0, 5050)))
                                 .delay(30ms)
                                 .close(),
                             // Five whole chunks and 10 bytes of the sixth arrived.
                             Script().wait_request().send(partial(5010)).close()},
                            {},
                            body,
                            0,
                            "file.bin",
                            "bytes=5010-"});
  all.push_back(
      HostileCase{"ServerErrorThenSuccess",
                  {Script().wait_request().send(http_response(500, "Internal Server Error", {}, "broken")).close(),
                   Script().wait_request().send(ok()).close()},
                  {},
                  body});
  all.push_back(
      HostileCase{"Forbidden", {Script().wait_request().send(header_only(403, "Forbidden", {})).close()}, {}, {}, 403});
  all.push_back(HostileCase{
      "NoContent", {Script().wait_request().send(header_only(204, "No Content", {})).close()}, {}, {}, 204});
  all.push_back(HostileCase{"RedirectLoop",
                            {Script().wait_request().send(header_only(302, "Found", {{"Location", "/loop"}})).close()},
                            {},
                            {},
                            302});
  all.push_back(
      HostileCase{"RelativeRedirection",
                  {Script().wait_request().send(header_only(301, "Moved", {{"Location", "../x/moved.bin"}})).close(),
                   Script().wait_request().send(ok()).close()},
                  {},
                  body,
                  0,
                  "moved.bin"});
  all.push_back(HostileCase{"RedirectionWithoutLocation",
                            {Script().wait_request().send(header_only(302, "Found", {})).close()},
                            {},
                            {},
                            302});
  all.push_back(HostileCase{"HugeHeader",
                            {Script()
                                 .wait_request()
                                 .send("HTTP/1.1 200 OK\r\nX-Pad: " + std::string(300 * 1024, 'p') + "\r\n\r\n" + body)
                                 .close()},
                            {},
                            {},
                            0});
  // Browsers take one long cookie or policy line; so do we.
  all.push_back(HostileCase{"LongSetCookieLine",
                            {Script()
                                 .wait_request()
                                 .send("HTTP/1.1 200 OK\r\nSet-Cookie: s=" + std::string(200 * 1024, 'c') +
                                       "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body)
                                 .close()},
                            {},
                            body});
  auto reset_after = [&](std::size_t from, std::size_t to) {
    const std::string start =
        from == 0
            ? head
            : "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(body.size() - from) + "\r\n\r\n";
    return Script().wait_request().send(start + body.substr(from, to - from)).delay(100ms).reset();
  };
  all.push_back(HostileCase{"ResetMidBodyThreeTimes",
                            {reset_after(0, 3000), reset_after(3000, 9000), reset_after(9000, 15000),
                             Script().wait_request().send(partial(15000)).close()},
                            {},
                            body,
                            0,
                            "file.bin",
                            "bytes=15000-20000"});
  all.push_back(HostileCase{"StallIsTimedOutAndResumed",
                            {Script().wait_request().send(head + body.substr(0, 8000)).stall(),
                             Script().wait_request().send(partial(8000)).close()},
                            {},
                            body});
  HostileCase unwritable{"UnwritableFolder", {Script().wait_request().send(ok()).close()}, {}, {}, ENOENT};
  unwritable.missing_folder = true;
  all.push_back(unwritable);
  return all;
}

// Over TLS a close with close_notify is a proper end and one without it may
// be a truncation. A body whose end its framing tells (a length, the last
// chunk) is judged by that framing alone, with or without close_notify; a
// body delimited by the close has nothing else to go by and is taken whole
// either way. Each chosen case runs as written and, where its first
// connection ends with a close, once more with every close lacking
// close_notify.
bool first_connection_closes(const HostileCase& c) {
  const auto& steps = c.scripts.front().steps();
  return !steps.empty() && steps.back().kind == testing::Step::Kind::close;
}

Script without_close_notify(const Script& script) {
  std::vector<testing::Step> steps = script.steps();
  for (auto& step : steps)
    if (step.kind == testing::Step::Kind::close) step.kind = testing::Step::Kind::close_without_notify;
  return Script(std::move(steps));
}

std::vector<HostileCase> tls_cases() {
  const std::vector<std::string> chosen{"LengthLargerThanBodyThenCloseIsResumed", "NoLengthEndsAtTheClose",
                                        "CutOffChunkedIsResumed", "ResetMidBodyThreeTimes"};
  std::vector<HostileCase> all;
  for (const auto& c : cases()) {
    if (std::find(chosen.begin(), chosen.end(), c.name) == chosen.end()) continue;
    all.push_back(c);
    if (!first_connection_closes(c)) continue;
    HostileCase cut = c;
    cut.name += "WithoutCloseNotify";
    for (auto& script : cut.scripts) script = without_close_notify(script);
    all.push_back(std::move(cut));
  }
  return all;
}

void expect_whole_or_stopped(const HostileCase& c, bool over_tls) {
  testing::TempFolder dir;
  const std::string folder = c.missing_folder ? dir.file("gone") : dir.path().string();
  const platform::SocketTimeouts timeouts{std::chrono::seconds(5), std::chrono::milliseconds(300)};
  std::unique_ptr<testing::HostileServer> server;
  platform::TlsOptions tls;
  if (over_tls) {
    const auto& identity = testing::TestCa::shared().server();
    server = std::make_unique<testing::HostileServer>(c.scripts, testing::HostileTls{identity.chain, identity.key});
    tls.ca_file = testing::TestCa::shared().ca_cert();
  } else {
    server = std::make_unique<testing::HostileServer>(c.scripts);
  }
  // What is on disk is this download's own part.
  if (c.on_disk) testing::write_part(dir.file("file.bin"), *c.on_disk, server->url("/dir/file.bin"));
  testing::LiveControl live(timeouts, tls);
  live.start({server->url("/dir/file.bin")}, folder);
  ASSERT_TRUE(live.run_until_finished(std::chrono::seconds(15))) << ::testing::PrintToString(live.host.events);
  if (c.completed) {
    EXPECT_TRUE(live.saw("OnFileComplete:" + dir.file(c.file)));
    EXPECT_TRUE(read_file(dir.file(c.file)) == *c.completed) << read_file(dir.file(c.file)).size();
  } else {
    EXPECT_TRUE(live.saw("OnStatusChange:File Not Found"));
    EXPECT_EQ(live.control.theerrnumber, c.stopped_with) << live.control.theerrdesc;
    EXPECT_NE(live.control.theerrdesc, "No Error");
    // Nothing of an answer that is not the file reaches the disk.
    EXPECT_FALSE(platform::file_exists(dir.file(c.file)));
  }
  if (!c.range_in_request.empty()) {
    const auto requests = server->requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests.back().find("Range: " + c.range_in_request), std::string::npos) << requests.back();
  }
}

// Test names then show the case, not its bytes.
void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

class HostileTransfer : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileTransfer, EndsWholeOrStoppedWithAClearError) { expect_whole_or_stopped(GetParam(), false); }

class HostileTlsTransfer : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileTlsTransfer, EndsWholeOrStoppedWithAClearError) {
  if (!testing::TestCa::available()) GTEST_SKIP() << "no openssl command";
  expect_whole_or_stopped(GetParam(), true);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileTransfer, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& param_info) { return param_info.param.name; });
INSTANTIATE_TEST_SUITE_P(Cases, HostileTlsTransfer, ::testing::ValuesIn(tls_cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace vintrel
