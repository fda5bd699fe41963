// The control itself on the Windows platform, driven the way a script host
// drives it: calls from the test's thread outside any handler, then message
// pumping while it works. Files land under a UTF-8 folder joined with "\".

#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/user_control1.hpp"
#include "platform/event_loop.hpp"
#include "platform/platform.hpp"
#include "platform/windows/folder_dialog.hpp"
#include "platform/windows/wide_text.hpp"
#include "pump.hpp"

namespace vintrel::windows_tests {
namespace {

using platform::windows::to_wide;

// A plain HTTP server on a free loopback port: each connection on a thread
// of its own, one request each, answered from a table of paths (404 for
// the rest) and closed.
class LoopbackHttp {
 public:
  explicit LoopbackHttp(std::vector<std::pair<std::string, std::string>> files) : files_(std::move(files)) {
    listener_ = listen_on_loopback(16, port_);
    acceptor_ = std::thread([this] { accept_all(); });
  }
  ~LoopbackHttp() {
    closesocket(listener_);
    acceptor_.join();
    for (auto& worker : workers_) worker.join();
    WSACleanup();
  }
  LoopbackHttp(const LoopbackHttp&) = delete;
  LoopbackHttp& operator=(const LoopbackHttp&) = delete;

  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  /// The request lines received, in order.
  std::vector<std::string> requests() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void accept_all() {
    while (true) {
      const SOCKET peer = accept(listener_, nullptr, nullptr);
      if (peer == INVALID_SOCKET) return;
      workers_.emplace_back([this, peer] { serve(peer); });
    }
  }

  void serve(SOCKET peer) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const int got = recv(peer, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    if (!request.empty()) {
      const std::string line = request.substr(0, request.find("\r\n"));
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(line);
      }
      const auto first = line.find(' ');
      const auto second = line.find(' ', first + 1);
      const std::string target = line.substr(first + 1, second - first - 1);
      const std::string path = target.substr(0, target.find('?'));
      const auto found = std::find_if(files_.begin(), files_.end(), [&](const auto& f) { return f.first == path; });
      std::string head;
      std::string body;
      if (found == files_.end()) {
        body = "not here";
        head = "HTTP/1.1 404 Not Found\r\n";
      } else {
        body = found->second;
        head = "HTTP/1.1 200 OK\r\n";
      }
      // HEAD-less, keep-alive-less: the length, then the close.
      const std::string answer = head + "Content-Length: " + std::to_string(body.size()) +
                                 "\r\nConnection: close\r\n\r\n" + (line.starts_with("HEAD ") ? std::string() : body);
      std::size_t sent = 0;
      while (sent < answer.size()) {
        const int put =
            send(peer, answer.data() + sent, static_cast<int>(std::min<std::size_t>(answer.size() - sent, 65536)), 0);
        if (put <= 0) break;
        sent += static_cast<std::size_t>(put);
      }
    }
    shutdown(peer, SD_SEND);
    closesocket(peer);
  }

  std::vector<std::pair<std::string, std::string>> files_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::thread acceptor_;
  std::vector<std::thread> workers_;  // touched by the acceptor only until it ends
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
};

// The host: records the events (and the thread and depth they came at),
// and offers the desktop's dialog, answered by the test setting.
class Host final : public platform::Container {
 public:
  explicit Host(platform::EventLoop& loop) : dialog_(loop) {}

  void OnStatusChange(const std::string& Text) override { record("OnStatusChange:" + Text); }
  void OnFileComplete(const std::string& Text) override { record("OnFileComplete:" + Text); }
  void OnTransferComplete() override { record("OnTransferComplete"); }
  platform::FolderDialog* folder_dialog() override { return &dialog_; }

  bool saw(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
  bool finished() const {
    return std::any_of(events.begin(), events.end(), [](const std::string& e) {
      return e.starts_with("OnFileComplete:") || e == "OnStatusChange:File Not Found";
    });
  }

  std::vector<std::string> events;
  bool foreign_thread = false;

 private:
  void record(std::string event) {
    foreign_thread = foreign_thread || GetCurrentThreadId() != thread_;
    events.push_back(std::move(event));
  }

  platform::ShellFolderDialog dialog_;
  DWORD thread_ = GetCurrentThreadId();
};

std::string read_whole(const std::string& path) {
  std::ifstream in(std::filesystem::path(to_wide(path)), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string patterned(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>((k * 7 + k / 4093) & 0xFF);
  return bytes;
}

TEST(WindowsControl, DownloadsIntoAUtf8FolderWhileTheThreadPumps) {
  TempFolder base;
  const std::string folder = base.file(
      "T\xC3\xA9l\xC3\xA9"
      "chargements");
  ASSERT_TRUE(CreateDirectoryW(to_wide(folder).c_str(), nullptr));
  SetEnvironmentVariableW(L"VINTREL_FOLDER_ANSWER", to_wide(folder).c_str());

  const std::string first = patterned(2 * 1024 * 1024 + 3);
  const std::string second = patterned(1000);
  LoopbackHttp server({{"/one.bin", first}, {"/two.bin", second}});

  platform::EventLoop loop;
  platform::AsioPlatform machine(loop);
  Host host(loop);
  control::UserControl1 control(machine, &host);
  control.Timer1->set_interval(10);
  control.AddFile(server.url("/one.bin"));
  control.AddFile(server.url("/missing.bin"));
  control.AddFile(server.url("/two.bin?version=2"));
  control.StartQueue();
  SetEnvironmentVariableW(L"VINTREL_FOLDER_ANSWER", nullptr);
  EXPECT_EQ(control.dChosenPath(), folder);

  ASSERT_TRUE(pump_until([&] { return host.finished(); }, std::chrono::seconds(30)));
  EXPECT_TRUE(host.saw("OnFileComplete:" + folder + "\\one.bin"));
  EXPECT_TRUE(read_whole(folder + "\\one.bin") == first) << "the file differs";

  host.events.clear();
  control.GotoFile(2);
  ASSERT_TRUE(pump_until([&] { return host.finished(); }, std::chrono::seconds(30)));
  EXPECT_TRUE(host.saw("OnStatusChange:File Not Found"));

  host.events.clear();
  control.GotoFile(3);
  ASSERT_TRUE(pump_until([&] { return host.finished(); }, std::chrono::seconds(30)));
  // The query is not part of the name.
  EXPECT_TRUE(host.saw("OnFileComplete:" + folder + "\\two.bin")) << ::testing::PrintToString(host.events);
  EXPECT_TRUE(read_whole(folder + "\\two.bin") == second) << "the file differs";
  const auto requests = server.requests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "GET /two.bin?version=2 HTTP/1.1"), requests.end())
      << ::testing::PrintToString(requests);
  EXPECT_FALSE(host.foreign_thread);
}

// Schannel is there on every Windows: an https URL makes a secure record
// on port 443, where a platform without TLS refuses it with 13.
TEST(WindowsControl, HttpsMakesASecureRecordOnPort443) {
  platform::EventLoop loop;
  platform::AsioPlatform machine(loop);
  control::UserControl1 control(machine);
  control.AddFile("https://127.0.0.1/secure.bin");
  TempFolder folder;
  control.sBuffer = folder.text();
  control.createRecords();
  const auto& server = control.DownloadFiles->Item(1).remoteServerLocs->Item(1);
  EXPECT_TRUE(server.isSecure);
  EXPECT_EQ(server.PortNum, 443);
  EXPECT_EQ(server.remoteFilePath, "/secure.bin");
}

}  // namespace
}  // namespace vintrel::windows_tests
