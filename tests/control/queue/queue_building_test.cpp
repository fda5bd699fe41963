#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "support/control_bytes.hpp"
#include "support/control_harness.hpp"
#include "support/temp_folder.hpp"
#include "support/user_control1_test_view.hpp"

namespace vintrel {
namespace {

using testing::ControlHarness;
using testing::error_of;

struct QueueBuilding : ::testing::Test {
  ControlHarness h;
  control::UserControl1& c = h.control;
  const control::UserControl1TestView engine{c};

  // Runs the record-creation pass over `urls` with `folder` chosen.
  void create(const std::vector<std::string>& urls, const std::string& folder = "/dl") {
    for (const auto& url : urls) c.AddFile(url);
    c.sBuffer = folder;
    c.createRecords();
  }
  queue::remoteServerLoc& server(std::int32_t n) { return h.file(n).remoteServerLocs->Item(1); }
};

TEST_F(QueueBuilding, UrlWithQueryKeepsItInThePathButNotInTheFileName) {
  create({"http://srv/dir/file.zip?x=1"});
  ASSERT_EQ(c.DownloadFiles->Count(), 1);
  EXPECT_EQ(server(1).servName, "srv");
  EXPECT_EQ(server(1).host, "srv");
  EXPECT_EQ(server(1).PortNum, 80);
  EXPECT_EQ(server(1).remoteFilePath, "/dir/file.zip?x=1");
  EXPECT_EQ(h.file(1).localfilename, "/dl/file.zip");
  EXPECT_EQ(h.file(1).downloadStatus, "N/A");
  EXPECT_EQ(c.chosenSaveFile, "/dl/file.zip");
  EXPECT_EQ(c.collectionPointer, 1);
}

TEST_F(QueueBuilding, UrlWithoutSchemeAndWithPort) {
  create({"srv:8080/a/b.bin"});
  EXPECT_EQ(server(1).servName, "srv");
  EXPECT_EQ(server(1).host, "srv:8080");
  EXPECT_EQ(server(1).PortNum, 8080);
  EXPECT_EQ(server(1).remoteFilePath, "/a/b.bin");
  EXPECT_EQ(h.file(1).localfilename, "/dl/b.bin");
}

TEST_F(QueueBuilding, BareServerAndFolderUrls) {
  create({"http://srv", "http://srv/dir/"});
  EXPECT_EQ(server(1).remoteFilePath, "");
  EXPECT_EQ(h.file(1).localfilename, "/dl/srv");
  EXPECT_EQ(server(2).remoteFilePath, "/dir/");
  EXPECT_EQ(h.file(2).localfilename, "/dl/");
}

TEST_F(QueueBuilding, RootFolderGivesNoDoubleSlashAndALeadingDoubleSlashLosesOne) {
  create({"http://srv/file.zip"}, "/");
  EXPECT_EQ(h.file(1).localfilename, "/file.zip");
  c.sBuffer = "//srv/x";
  c.createRecords();
  EXPECT_EQ(h.file(2).localfilename, "/srv/x/file.zip");
}

TEST_F(QueueBuilding, HttpsUrlFailsWithTypeMismatchOnAPlatformWithoutTls) {
  h.platform.tls = false;
  c.AddFile("http://srv/one.bin");
  c.AddFile("https://srv/two.bin");
  c.AddFile("http://srv/three.bin");
  c.sBuffer = "/dl";
  EXPECT_EQ(error_of([&] { c.createRecords(); }), automation::err::type_mismatch);
  EXPECT_EQ(c.DownloadFiles->Count(), 1);
  EXPECT_EQ(c.collectionPointer, 1);
  // The failing record was made but never added; it was the last one named.
  EXPECT_EQ(c.chosenSaveFile, "/dl/two.bin");
}

TEST_F(QueueBuilding, HttpsUrlsAreSecureWithPort443UnlessTheyNameOne) {
  create({"https://srv/dir/a.bin?u=http://x/a.bin", "HTTPS://srv:8443/b.bin", "https://srv:443/c.bin"});
  ASSERT_EQ(c.DownloadFiles->Count(), 3);
  EXPECT_TRUE(server(1).isSecure);
  EXPECT_EQ(server(1).servName, "srv");
  EXPECT_EQ(server(1).host, "srv");
  EXPECT_EQ(server(1).PortNum, 443);
  // Only the scheme is removed from a secure URL; its query stays whole.
  EXPECT_EQ(server(1).remoteFilePath, "/dir/a.bin?u=http://x/a.bin");
  EXPECT_EQ(h.file(1).localfilename, "/dl/a.bin");
  EXPECT_EQ(server(2).PortNum, 8443);
  EXPECT_EQ(server(2).host, "srv:8443");
  EXPECT_EQ(server(3).host, "srv");
  // Script reaches the new member by name, as a boolean.
  EXPECT_TRUE(server(3).get("isSecure").boolean());
  server(3).put("isSecure", automation::Variant(false));
  EXPECT_FALSE(server(3).isSecure);
}

TEST_F(QueueBuilding, OnlyTheLeadingHttpSchemeIsRemoved) {
  const struct {
    const char* url;
    const char* server;
    std::int32_t port;
    const char* path;
    const char* name;
  } cases[] = {
      {"http://a/x?u=http://b/y", "a", 80, "/x?u=http://b/y", "y"},
      {"http://a:81/http://b/c.bin", "a", 81, "/http://b/c.bin", "c.bin"},
      {"a/x.bin?next=http://b/", "a", 80, "/x.bin?next=http://b/", ""},
      {"http://a/dir/http:/x.bin", "a", 80, "/dir/http:/x.bin", "x.bin"},
  };
  for (const auto& url : cases) c.AddFile(url.url);
  c.sBuffer = "/dl";
  c.createRecords();
  ASSERT_EQ(c.DownloadFiles->Count(), static_cast<std::int32_t>(std::size(cases)));
  for (std::int32_t n = 1; n <= c.DownloadFiles->Count(); ++n) {
    const auto& url = cases[n - 1];
    EXPECT_EQ(server(n).servName, url.server) << url.url;
    EXPECT_EQ(server(n).PortNum, url.port) << url.url;
    EXPECT_EQ(server(n).remoteFilePath, url.path) << url.url;
    EXPECT_EQ(h.file(n).localfilename, std::string("/dl/") + url.name) << url.url;
  }
}

// A control byte anywhere in a URL fails its record as a port that is not
// a number does: earlier records stay, the pass ends there.
TEST_F(QueueBuilding, AUrlWithAControlByteFailsItsRecordWithTypeMismatch) {
  for (const std::string& byte : testing::control_bytes()) {
    for (const std::string& bad : {"http://s" + byte + "rv/f.bin", "http://srv/f" + byte + ".bin",
                                   "http://srv/f.bin?q=" + byte, "srv:80" + byte + "/f.bin"}) {
      ControlHarness fresh;
      auto& control = fresh.control;
      for (const std::string& url : {std::string("http://srv/ok.bin"), bad, std::string("http://srv/later.bin")})
        control.AddFile(url);
      control.sBuffer = "/dl";
      try {
        control.createRecords();
        ADD_FAILURE() << "accepted " << testing::control_name(byte) << " in " << bad;
      } catch (const automation::AutomationError& e) {
        EXPECT_EQ(e.number(), automation::err::type_mismatch);
        EXPECT_EQ(e.description().rfind("The URL holds " + testing::control_name(byte) + ": ", 0), 0u)
            << e.description();
        EXPECT_EQ(e.description().find(byte), std::string::npos) << "shown raw: " << e.description();
      }
      EXPECT_EQ(control.DownloadFiles->Count(), 1);
    }
  }
}

TEST_F(QueueBuilding, BracketedIpv6HostsConnectToTheAddressAndSendItInBrackets) {
  create({"http://[::1]:8080/x.bin", "https://[::1]/y.bin", "http://[fe80::2]/z.bin"});
  EXPECT_EQ(server(1).servName, "::1");
  EXPECT_EQ(server(1).PortNum, 8080);
  EXPECT_EQ(server(1).host, "[::1]:8080");
  EXPECT_EQ(server(1).remoteFilePath, "/x.bin");
  EXPECT_EQ(server(2).PortNum, 443);
  EXPECT_EQ(server(2).host, "[::1]");
  EXPECT_EQ(server(3).host, "[fe80::2]");
  EXPECT_EQ(server(3).PortNum, 80);
  // Text between "]" and the path that is not ":port" is no port at all.
  c.AddFile("http://[::1]8/w.bin");
  EXPECT_EQ(error_of([&] { c.createRecords(); }), automation::err::type_mismatch);
}

TEST_F(QueueBuilding, EmptyUrlsFailWithSubscriptOutOfRange) {
  c.AddFile("");
  c.sBuffer = "/dl";
  EXPECT_EQ(error_of([&] { c.createRecords(); }), automation::err::subscript);
  ControlHarness other;
  other.control.AddFile("http://");
  other.control.sBuffer = "/dl";
  EXPECT_EQ(error_of([&] { other.control.createRecords(); }), automation::err::subscript);
  EXPECT_EQ(other.control.DownloadFiles->Count(), 0);
}

TEST_F(QueueBuilding, HundredAndFirstUrlFailsAndIsNotStored) {
  for (int n = 1; n <= 100; ++n) c.AddFile("http://srv/f" + std::to_string(n));
  EXPECT_EQ(error_of([&] { c.AddFile("http://srv/extra"); }), automation::err::subscript);
  EXPECT_EQ(c.numfilesadded, 100);
  EXPECT_EQ(c.addedURLs[100], "http://srv/f100");
}

TEST_F(QueueBuilding, TwoPassesOverThreeUrlsGiveSixRecordsSharingLocalFiles) {
  create({"http://a/1", "http://b/2", "http://c/3"});
  c.createRecords();
  ASSERT_EQ(c.DownloadFiles->Count(), 6);
  EXPECT_EQ(c.collectionPointer, 6);
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(h.file(n).localfilename, h.file(n + 3).localfilename);
  EXPECT_TRUE(h.file(4).IsInQueue(*c.DownloadFiles));
}

TEST_F(QueueBuilding, ReadyingLoadsTransferSocketsAndResetsResponseState) {
  create({"http://a/1", "http://b/2"});
  h.file(2).contentlength = 5;
  h.file(2).IsHeaderReceived = true;
  c.addFilesToQueue();
  EXPECT_EQ(c.totalFiles, 2);
  EXPECT_EQ(c.curcnt, 3);
  EXPECT_EQ(engine.file(2).dlLocalFile, "/dl/2");
  EXPECT_EQ(h.file(2).contentlength, 0);
  EXPECT_FALSE(h.file(2).IsHeaderReceived);
  EXPECT_TRUE(h.winsock().element(1).loaded);
  EXPECT_TRUE(h.winsock().element(2).loaded);
  // Nothing waiting: the counter is left one past the ready records.
  c.addFilesToQueue();
  EXPECT_EQ(c.curcnt, 3);
  EXPECT_EQ(c.totalFiles, 2);
}

TEST_F(QueueBuilding, HundredAndFirstQueuedFileFailsWithEarlierOnesReady) {
  for (int n = 1; n <= 60; ++n) c.AddFile("http://srv/f" + std::to_string(n));
  c.sBuffer = "/dl";
  c.createRecords();
  c.createRecords();
  ASSERT_EQ(c.DownloadFiles->Count(), 120);
  EXPECT_EQ(error_of([&] { c.addFilesToQueue(); }), automation::err::subscript);
  EXPECT_EQ(c.totalFiles, 100);
  EXPECT_EQ(c.curcnt, 101);
  EXPECT_TRUE(h.winsock().element(100).loaded);
  EXPECT_EQ(engine.file(100).dlLocalFile, "/dl/f40");
}

TEST_F(QueueBuilding, DeQueryCutsAtTheFirstQuestionMark) {
  automation::Variant a("a?b?c"), b("abc"), q("?x");
  EXPECT_EQ(c.DeQuery(a).bstr(), "a");
  EXPECT_EQ(c.DeQuery(b).bstr(), "abc");
  EXPECT_EQ(c.DeQuery(q).bstr(), "");
  EXPECT_EQ(a.bstr(), "a?b?c");  // the argument is left as it was
}

TEST_F(QueueBuilding, Str2binGivesTheBytesAndLeavesTheCounterPastTheEnd) {
  automation::Variant ab("AB"), empty(""), utf8("\xC3\xA9");
  EXPECT_EQ(c.str2bin(ab).bytes(), (std::vector<std::uint8_t>{0x41, 0x42}));
  EXPECT_EQ(c.i, 3);
  EXPECT_TRUE(c.str2bin(empty).bytes().empty());
  EXPECT_EQ(c.i, 1);
  EXPECT_EQ(c.str2bin(utf8).bytes(), (std::vector<std::uint8_t>{0xC3, 0xA9}));
  EXPECT_EQ(c.i, 3);
}

TEST(QueueRecords, FreshControlHasItsInitialValues) {
  ControlHarness h;
  auto& c = h.control;
  EXPECT_EQ(c.CurFile, 1);
  EXPECT_EQ(c.qPointer, 1);
  EXPECT_EQ(c.curpingws, 1);
  EXPECT_EQ(c.theerrdesc, "No Error");
  EXPECT_EQ(c.theerrnumber, 0);
  EXPECT_EQ(c.psIndex, 0);
  EXPECT_EQ(c.totalFiles, 0);
  EXPECT_EQ(c.DownloadFiles->Count(), 0);
  EXPECT_EQ(c.sBuffer, "");
  EXPECT_EQ(h.platform.timer().interval(), 1000);
  EXPECT_TRUE(h.platform.timer().enabled());
}

TEST(QueueRecords, MembersAreReachedByNameWithTheirTypes) {
  queue::DownloadFile f;
  f.put("contentlength", automation::Variant("1234"));
  EXPECT_EQ(f.contentlength, 1234);
  f.put("chosenServer", automation::Variant(2.5));
  EXPECT_EQ(f.chosenServer, 2);  // halves to even
  EXPECT_EQ(error_of([&] { f.put("chosenServer", automation::Variant(40000)); }), automation::err::overflow);
  EXPECT_EQ(error_of([&] { f.put("bytesondisk", automation::Variant("80a")); }), automation::err::type_mismatch);
  EXPECT_EQ(f.get("isLarge").type(), automation::VarType::Bool);
  EXPECT_EQ(f.get("therate").type(), automation::VarType::I4);
  EXPECT_EQ(f.get("startDLTime").type(), automation::VarType::Date);
  EXPECT_EQ(f.get("remoteServerLocs").type(), automation::VarType::Dispatch);
  EXPECT_EQ(error_of([&] { f.get("noSuchMember"); }), automation::err::no_member);

  queue::remoteServerLoc s;
  s.put("PortNum", automation::Variant("8080"));
  EXPECT_EQ(s.PortNum, 8080);
  EXPECT_EQ(error_of([&] { s.put("PortNum", automation::Variant("80a")); }), automation::err::type_mismatch);
  EXPECT_EQ(s.member_names().front(), "remoteFilePath");
  EXPECT_EQ(f.member_names().size(), 27u);
  EXPECT_EQ(f.member_names().back(), "checksum");
}

TEST(QueueRecords, ChecksumTakesAlgoEqualsHexOrNothingAndRefusesTheRest) {
  const std::string sha1 = "sha-1=a9993e364706816aba3e25717850c26c9cd0d89d";
  const struct {
    automation::Variant value;
    std::int32_t error;  // 0: taken as given
  } cases[] = {
      {automation::Variant(sha1), 0},
      {automation::Variant("MD5=900150983CD24FB0D6963F7D28E17F72"), 0},
      {automation::Variant(""), 0},
      {automation::Variant("sha-1=a9993e36"), automation::err::type_mismatch},
      {automation::Variant("a9993e364706816aba3e25717850c26c9cd0d89d"), automation::err::type_mismatch},
      {automation::Variant("crc32=352441c2"), automation::err::type_mismatch},
      {automation::Variant(256), automation::err::type_mismatch},
  };
  for (const auto& [value, error] : cases) {
    queue::DownloadFile f;
    f.checksum = sha1;
    EXPECT_EQ(error_of([&] { f.put("checksum", value); }), error) << automation::to_bstr(value);
    EXPECT_EQ(f.checksum, error ? sha1 : automation::to_bstr(value));
    EXPECT_EQ(f.get("checksum").bstr(), f.checksum);
  }
}

TEST(QueueRecords, IsInQueueComparesLocalNamesExactly) {
  queue::DownloadFileCollection queue;
  queue::DownloadFile f;
  f.localfilename = "/dl/File.zip";
  EXPECT_FALSE(f.IsInQueue(queue));
  auto other = std::make_shared<queue::DownloadFile>();
  other->localfilename = "/dl/file.zip";
  queue.Add(other);
  EXPECT_FALSE(f.IsInQueue(queue));
  other->localfilename = "/dl/File.zip";
  EXPECT_TRUE(f.IsInQueue(queue));
}

TEST(QueueRecords, FileSizeOfMissingEmptyAndHugeSparseFiles) {
  testing::TempFolder dir;
  queue::DownloadFile f;
  EXPECT_EQ(error_of([&] { f.FileSize(); }), automation::err::type_mismatch);
  f.localfilename = dir.file("missing");
  EXPECT_EQ(f.FileSize(), 0);
  const auto big = dir.file("big");
  const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 4294967296LL), 0);
  ::close(fd);
  EXPECT_EQ(queue::LookupFileSize(big), 4294967296.0);
  f.localfilename = big;
  EXPECT_EQ(f.FileSize(), 4294967296.0);
}

}  // namespace
}  // namespace vintrel
