// `vintrel get` over https, as users run it: the built program in a child
// process against nginx serving TLS with identities from a test authority
// made at run time, and a hostile TLS server for handshakes that break.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "get_runs.hpp"
#include "support/counting_relay.hpp"
#include "support/hostile_server.hpp"
#include "support/test_ca.hpp"

namespace vintrel::testing {
namespace {

namespace fs = std::filesystem;

#define REQUIRE_TLS_SERVERS() \
  REQUIRE_NGINX();            \
  if (!TestCa::available()) GTEST_SKIP() << "no openssl command"

const TestCa& ca() { return TestCa::shared(); }

// nginx answers this path with the Host field it was sent, so that a
// downloaded file shows what the program put there.
const std::string host_echo = R"(location = /host.txt { return 200 "$http_host"; })";

NginxOptions presenting(const ServerCertificate& identity, std::vector<std::string> locations = {}) {
  NginxOptions options;
  options.tls_cert = identity.chain;
  options.tls_key = identity.key;
  options.extra_locations = std::move(locations);
  return options;
}

NginxOptions plain_with(std::vector<std::string> locations) {
  NginxOptions options;
  options.extra_locations = std::move(locations);
  return options;
}

// Trusts the test authority besides the system's store.
std::vector<std::string> trusting(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"--ca-file", ca().ca_cert()});
  return get(std::move(arguments));
}

bool logged(const std::vector<AccessLogEntry>& log, const std::string& request, int status) {
  return std::any_of(log.begin(), log.end(),
                     [&](const AccessLogEntry& e) { return e.request == request && e.status == status; });
}

std::string lowercase(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool empty_folder(const TempFolder& folder) { return fs::is_empty(folder.path()); }

TEST(GetHttps, WholeFileArrivesOverTlsFromANonDefaultPort) {
  REQUIRE_TLS_SERVERS();
  constexpr std::int64_t size = 3 * MiB + 17;
  NginxServer server(presenting(ca().server(), {host_echo}));
  const std::string content = serve(server, "whole.bin", size, 31);
  server.start();
  ASSERT_TRUE(server.url("/").starts_with("https://127.0.0.1:")) << server.url("/");
  TempFolder folder;

  const ProgramRun run =
      run_program(trusting({"-d", folder.path().string(), server.url("/whole.bin"), server.url("/host.txt")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("whole.bin"), content));
  // The port is not https's 443, so the Host field must carry it.
  EXPECT_EQ(read_file(folder.file("host.txt")), "127.0.0.1:" + std::to_string(server.port()));
  const auto log = server.wait_for_access_log(2);
  const auto whole = std::find_if(log.begin(), log.end(),
                                  [](const AccessLogEntry& e) { return e.request == "GET /whole.bin HTTP/1.1"; });
  ASSERT_NE(whole, log.end()) << server.error_log();
  EXPECT_EQ(whole->status, 200);
  EXPECT_EQ(whole->body_bytes_sent, size);
  EXPECT_EQ(run.err, "");
}

TEST(GetHttps, PartialLocalFileIsCompletedWithARangeRequest) {
  REQUIRE_TLS_SERVERS();
  constexpr std::int64_t size = 2 * MiB + 5;
  constexpr std::int64_t half = size / 2;
  NginxServer server(presenting(ca().server()));
  const std::string content = serve(server, "half.bin", size, 32);
  server.start();
  TempFolder folder;
  // A part another program left: taken up on the user's word (-c).
  write_file(folder.file("half.bin"), content.substr(0, half));

  const ProgramRun run = run_program(trusting({"-c", "-d", folder.path().string(), server.url("/half.bin")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("half.bin"), content));
  bool resumed = false;
  for (const auto& entry : server.wait_for_access_log(1)) {
    if (!entry.range.starts_with("bytes=" + std::to_string(half) + "-")) continue;
    resumed = true;
    EXPECT_EQ(entry.status, 206);
    EXPECT_EQ(entry.body_bytes_sent, size - half) << "only the missing half goes over the wire";
  }
  EXPECT_TRUE(resumed) << "no request for the rest of the file";
}

// A queue from one server resumes the sessions the server handed out. A
// TLS 1.2 session serves every later connection. A TLS 1.3 handshake hands
// out two tickets, each used once: of the three files that start together
// once the first has its answer, at least two resume. A server taking
// early data gets a resumed connection's request with the handshake's
// first flight. (How many tickets a server gives after a resumed or early
// connection depends on timing, hence the ranges.)
TEST(GetHttps, QueueFromOneServerResumesItsSessions) {
  REQUIRE_TLS_SERVERS();
  auto file_name = [](std::uint32_t n) { return "f" + std::to_string(n) + ".bin"; };
  struct Row {
    const char* protocol;
    std::vector<std::string> directives;
    const char* jobs;
    long most_full;  // full handshakes, at least the first
    bool early;      // resumed connections send their request as early data
    long least_resumed;
  };
  const std::vector<Row> rows = {{"TLSv1.2", {}, "5", 1, false, 3},
                                 {"TLSv1.3", {}, "5", 2, false, 2},
                                 {"TLSv1.3", {"ssl_early_data on;"}, "1", 2, true, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.protocol) + (row.early ? " early data" : ""));
    NginxOptions options = presenting(ca().server());
    options.tls_protocols = row.protocol;
    options.extra_directives = row.directives;
    NginxServer server(options);
    std::vector<std::string> contents;
    for (std::uint32_t n = 0; n < 4; ++n) contents.push_back(serve(server, file_name(n), 64 * KiB + n, 50 + n));
    server.start();
    TempFolder folder;
    std::vector<std::string> arguments = {"-v", "-j", row.jobs, "-d", folder.path().string()};
    for (std::uint32_t n = 0; n < 4; ++n) arguments.push_back(server.url("/" + file_name(n)));

    const ProgramRun run = run_program(trusting(arguments));

    ASSERT_EQ(run.status, 0) << describe(run);
    for (std::uint32_t n = 0; n < 4; ++n) EXPECT_TRUE(holds(folder.file(file_name(n)), contents[n]));
    // The server's log tells resumed connections; early data the client
    // tells (-v), as nginx sees it only when the request beats the
    // handshake's last message.
    std::string marks;
    for (const auto& entry : server.wait_for_access_log(4)) marks += entry.session_reused ? 'r' : '.';
    const auto full = std::count(marks.begin(), marks.end(), '.');
    EXPECT_TRUE(full >= 1 && full <= row.most_full) << marks;
    EXPECT_GE(std::count(marks.begin(), marks.end(), 'r'), row.least_resumed) << marks;
    const std::regex early_answer(", resumed, early data\n< HTTP/1.1 200");
    const auto early = std::distance(std::sregex_iterator(run.err.begin(), run.err.end(), early_answer), {});
    EXPECT_EQ(early > 0, row.early) << run.err;
  }
}

// The files that wait for an https server's first answer connect meanwhile
// and shake hands once it came, resuming its session. The relay holds that
// answer back until six connections are open (or 5 s went by): the first
// file's and five opened ahead, one for each of the other four lanes and
// one for the file after them.
TEST(GetHttps, FilesWaitingForTheFirstAnswerConnectMeanwhileAndResume) {
  REQUIRE_TLS_SERVERS();
  NginxServer server(presenting(ca().server()));
  std::vector<std::string> contents;
  for (std::uint32_t n = 0; n < 8; ++n) contents.push_back(serve(server, "w" + std::to_string(n), 64 * KiB, 70 + n));
  server.start();
  const CountingRelay relay(server.port(), 6);
  TempFolder folder;
  std::vector<std::string> arguments = {"-j", "5", "-d", folder.path().string()};
  for (std::uint32_t n = 0; n < 8; ++n)
    arguments.push_back("https://127.0.0.1:" + std::to_string(relay.port()) + "/w" + std::to_string(n));

  const ProgramRun run = run_program(trusting(arguments));

  ASSERT_EQ(run.status, 0) << describe(run);
  for (std::uint32_t n = 0; n < 8; ++n) EXPECT_TRUE(holds(folder.file("w" + std::to_string(n)), contents[n]));
  EXPECT_EQ(relay.accepted_before_first_answer(), 6);
  EXPECT_EQ(relay.most_at_once(), 6);
  EXPECT_EQ(relay.accepted(), 8);
  std::string marks;
  for (const auto& entry : server.wait_for_access_log(8)) marks += entry.session_reused ? 'r' : '.';
  EXPECT_EQ(std::count(marks.begin(), marks.end(), '.'), 1) << marks;
}

TEST(GetHttps, RedirectionsCrossFromHttpToHttpsAndBack) {
  REQUIRE_TLS_SERVERS();
  // Each server redirects to the other, so one of them can learn the
  // other's port only after its first start: it reads its redirection
  // from a file and is restarted once the port is known.
  TempFolder config;
  const std::string redirect = config.file("redirect.conf");
  write_file(redirect, "return 503;\n");
  NginxServer plain(plain_with({"location = /up.bin { include " + redirect + "; }"}));
  const std::string down = serve(plain, "down.bin", 300 * KiB + 1, 41);
  plain.start();
  NginxServer secure(
      presenting(ca().server(), {"location = /down.bin { return 301 " + plain.url("/down.bin") + "; }"}));
  const std::string up = serve(secure, "up.bin", 300 * KiB + 2, 42);
  secure.start();
  write_file(redirect, "return 301 " + secure.url("/up.bin") + ";\n");
  plain.restart();
  TempFolder folder;

  const ProgramRun run =
      run_program(trusting({"-d", folder.path().string(), plain.url("/up.bin"), secure.url("/down.bin")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("up.bin"), up));
  EXPECT_TRUE(holds(folder.file("down.bin"), down));
  const auto plain_log = plain.wait_for_access_log(2);
  const auto secure_log = secure.wait_for_access_log(2);
  EXPECT_TRUE(logged(plain_log, "GET /up.bin HTTP/1.1", 301));
  EXPECT_TRUE(logged(secure_log, "GET /up.bin HTTP/1.1", 200)) << "http -> https not followed";
  EXPECT_TRUE(logged(secure_log, "GET /down.bin HTTP/1.1", 301));
  EXPECT_TRUE(logged(plain_log, "GET /down.bin HTTP/1.1", 200)) << "https -> http not followed";
}

TEST(GetHttps, SecureMirrorIsProbedAndServesTheFile) {
  REQUIRE_TLS_SERVERS();
  constexpr std::int64_t size = 1 * MiB;
  // Probes carry no Referer, the transfer does: only probes are slowed, so
  // that each is measured over the two seconds probing needs without the
  // transfer being slow too. The secure one is four times faster.
  const auto probes_at = [](const std::string& rate) {
    return "location = /m.bin { if ($http_referer = \"\") { set $limit_rate " + rate + "; } }";
  };
  NginxServer plain(plain_with({probes_at("32k")}));
  NginxServer secure(presenting(ca().server(), {probes_at("128k")}));
  const std::string content = serve(plain, "m.bin", size, 51);
  serve(secure, "m.bin", size, 51);
  plain.start();
  secure.start();
  TempFolder folder;

  // The plain server is named first: picking it would be the default.
  const ProgramRun run = run_program(trusting({"-d", folder.path().string(), "--referer", "http://pages.test/m.html",
                                               plain.url("/m.bin"), "-m", secure.url("/m.bin")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("m.bin"), content));
  const auto plain_log = plain.wait_for_access_log(1);
  ASSERT_EQ(plain_log.size(), 1u) << "the plain server should see its probe only";
  EXPECT_EQ(plain_log[0].referer, "");
  EXPECT_LT(plain_log[0].body_bytes_sent, size);
  const auto secure_log = secure.wait_for_access_log(2);
  ASSERT_EQ(secure_log.size(), 2u) << "a probe and the transfer";
  std::size_t transfers = 0;
  for (const auto& entry : secure_log) {
    EXPECT_EQ(entry.request, "GET /m.bin HTTP/1.1");
    if (entry.referer != "http://pages.test/m.html") continue;
    ++transfers;
    EXPECT_EQ(entry.body_bytes_sent, size);
  }
  EXPECT_EQ(transfers, 1u);
}

TEST(GetHttps, CertificateThatFailsItsCheckStopsTheFileAtOnce) {
  REQUIRE_TLS_SERVERS();
  struct Case {
    std::string name;
    const ServerCertificate& identity;
    bool with_ca_file;
    std::string number;
  };
  const std::vector<Case> cases{
      {"authority not trusted", ca().server(), false, "12045"},
      {"self-signed", ca().self_signed(), true, "12045"},
      {"issued for another name", ca().wrong_name(), true, "12038"},
      {"expired", ca().expired(), true, "12037"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NginxServer server(presenting(c.identity));
    serve(server, "c.bin", 64 * KiB, 61);
    server.start();
    TempFolder folder;
    // With twenty tries a failure taken for a passing one would connect
    // again and again.
    std::vector<std::string> arguments{"--tries", "20", "-d", folder.path().string(), server.url("/c.bin")};

    const ProgramRun run = run_program(c.with_ca_file ? trusting(arguments) : get(arguments));

    EXPECT_EQ(run.status, 1) << describe(run);
    EXPECT_NE(run.err.find("[1/1] failed: "), std::string::npos) << describe(run);
    EXPECT_NE(run.err.find("(error " + c.number + ")"), std::string::npos) << describe(run);
    EXPECT_NE(lowercase(run.err).find("certificate"), std::string::npos) << describe(run);
    EXPECT_EQ(run.err.find("gave up after"), std::string::npos) << describe(run);
    EXPECT_NE(run.out.find("Summary: 0 done, 1 failed"), std::string::npos) << describe(run);
    EXPECT_TRUE(empty_folder(folder));
    // No request was sent, and one handshake was all there was.
    EXPECT_TRUE(server.access_log().empty());
    // nginx may log the failed handshake just after the program has ended.
    std::string errors = server.error_log();
    for (int wait = 0; wait < 500 && count(errors, "SSL_do_handshake() failed") == 0; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      errors = server.error_log();
    }
    EXPECT_EQ(count(errors, "SSL_do_handshake() failed"), 1u) << errors;
  }
}

TEST(GetHttps, InsecureTakesAnyCertificateAndWarnsOnce) {
  REQUIRE_TLS_SERVERS();
  NginxServer server(presenting(ca().self_signed()));
  const std::string a = serve(server, "a.bin", 200 * KiB, 71);
  const std::string b = serve(server, "b.bin", 100 * KiB + 9, 72);
  server.start();
  TempFolder folder;

  const ProgramRun run =
      run_program(get({"--insecure", "-d", folder.path().string(), server.url("/a.bin"), server.url("/b.bin")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("a.bin"), a));
  EXPECT_TRUE(holds(folder.file("b.bin"), b));
  EXPECT_EQ(count(run.err, "not checked"), 1u) << describe(run);
  EXPECT_EQ(count(run.err, "\n"), 1u) << "nothing else goes wrong\n" << describe(run);
}

TEST(GetHttps, HandshakeBrokenByTheServerIsRetriedLikeAnySocketError) {
  if (!TestCa::available()) GTEST_SKIP() << "no openssl command";
  HostileServer server({Script().break_handshake(HandshakeBreak::before_server_hello),
                        Script().break_handshake(HandshakeBreak::mid_server_hello)},
                       HostileTls{ca().server().chain, ca().server().key});
  TempFolder folder;

  const ProgramRun run = run_program(trusting({"--tries", "2", "-d", folder.path().string(), server.url("/h.bin")}));

  EXPECT_EQ(run.status, 1) << describe(run);
  EXPECT_NE(run.err.find("[1/1] failed: gave up after 2 attempts: "), std::string::npos) << describe(run);
  EXPECT_FALSE(std::regex_search(run.err, std::regex("error 12[0-9]{3}"))) << describe(run);
  EXPECT_EQ(server.connections(), 2);
  EXPECT_TRUE(server.requests().empty());
  EXPECT_TRUE(empty_folder(folder));
}

TEST(GetHttps, Ipv6LiteralHostsInBothSchemes) {
  REQUIRE_TLS_SERVERS();
  if (!NginxServer::has_ipv6_loopback()) GTEST_SKIP() << "this machine has no ::1";
  // The address that took the connection, then the Host field.
  NginxOptions secure_options =
      presenting(ca().server(), {R"(location = /where-s.txt { return 200 "$server_addr $http_host"; })"});
  secure_options.listen_ipv6 = true;
  NginxOptions plain_options = plain_with({R"(location = /where-p.txt { return 200 "$server_addr $http_host"; })"});
  plain_options.listen_ipv6 = true;
  NginxServer secure(secure_options);
  NginxServer plain(plain_options);
  const std::string s = serve(secure, "s6.bin", 500 * KiB + 3, 81);
  const std::string p = serve(plain, "p6.bin", 500 * KiB + 4, 82);
  secure.start();
  plain.start();
  TempFolder folder;
  ASSERT_TRUE(secure.url_ipv6("/").starts_with("https://[::1]:")) << secure.url_ipv6("/");

  const ProgramRun run =
      run_program(trusting({"-d", folder.path().string(), secure.url_ipv6("/s6.bin"), secure.url_ipv6("/where-s.txt"),
                            plain.url_ipv6("/p6.bin"), plain.url_ipv6("/where-p.txt")}));

  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_TRUE(holds(folder.file("s6.bin"), s));
  EXPECT_TRUE(holds(folder.file("p6.bin"), p));
  EXPECT_EQ(read_file(folder.file("where-s.txt")), "::1 [::1]:" + std::to_string(secure.port()));
  EXPECT_EQ(read_file(folder.file("where-p.txt")), "::1 [::1]:" + std::to_string(plain.port()));
}

}  // namespace
}  // namespace vintrel::testing
