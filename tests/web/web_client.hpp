#pragma once
// A page's side of `vintrel serve` for the tests: a server on its own loop
// thread, and WebSocket and HTTP clients on the test's thread. Every wait is
// bounded, so a server that stops answering fails the test instead of hanging.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/event_loop.hpp"
#include "platform/folder_dialogs.hpp"
#include "platform/platform.hpp"
#include "support/temp_folder.hpp"
#include "web/control_channel.hpp"
#include "web/server.hpp"

namespace vintrel::testing {

using Json = nlohmann::json;

/// `vintrel serve -d <temporary folder>` in the test's process.
class ServedControls {
 public:
  struct Options {
    bool allow_open = false;
    std::vector<std::string> allowed_origins;
    std::chrono::milliseconds detached_grace = std::chrono::minutes(10);
    /// Each control's maxRate to begin with, as --limit-rate gives it.
    std::int32_t max_rate = 0;
  };

  explicit ServedControls(Options options);
  ServedControls() : ServedControls(Options{}) {}
  ~ServedControls();

  std::uint16_t port() const { return port_; }
  const std::string& token() const { return token_; }
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
  const TempFolder& folder() const { return folder_; }

  /// Waits until a line of the server's log holds `text`; returns it.
  std::optional<std::string> wait_for_log(const std::string& text,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  TempFolder folder_;
  platform::EventLoop loop_;
  platform::AsioPlatform machine_{loop_};
  platform::FixedFolderDialog dialog_;
  web::ControlChannelOptions channel_options_;
  std::unique_ptr<web::Server> server_;
  std::uint16_t port_ = 0;
  std::string token_;
  std::mutex mutex_;
  std::condition_variable logged_;
  std::vector<std::string> log_;
  std::thread thread_;
};

/// The WebSocket end of a page.
class PageClient {
 public:
  PageClient();
  ~PageClient();

  /// The handshake to `target` with `origin` (none when empty) and the Host
  /// header `host` ("127.0.0.1:port" when empty); returns the HTTP status of
  /// the answer (101 when connected).
  int connect(std::uint16_t port, const std::string& target, const std::string& origin, const std::string& host = "");
  /// Connects as the server's own page does.
  int connect(const ServedControls& server) {
    return connect(server.port(), "/control?token=" + server.token(), server.origin());
  }

  /// Sends `request` with a fresh id and returns its answer; events that
  /// arrive before it are kept in events().
  Json request(Json request);
  /// Reads messages until one is the event `name`; returns it.
  Json wait_for_event(const std::string& name, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// The same for the `nth` event of that name (counted from 1).
  Json wait_for_event(const std::string& name, std::size_t nth,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Sends `text` as it is and returns the next answer (events kept).
  Json request_text(const std::string& text);
  const std::vector<Json>& events() const { return events_; }
  /// Waits for the server to end the connection; true when it did.
  bool wait_for_close();
  /// The code and reason of the server's close frame, once wait_for_close()
  /// saw it (code 0 when the connection ended without one).
  struct Closing {
    int code = 0;
    std::string reason;
  };
  Closing closing() const;

 private:
  std::optional<std::string> read(std::chrono::milliseconds timeout);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  int next_id_ = 1;
  std::vector<Json> events_;
};

struct HttpAnswer {
  int status = 0;
  std::string body;
  std::string content_type;
  std::string csp;
};

/// GET `target` with the Host header `host` ("127.0.0.1:port" when empty).
HttpAnswer http_get(std::uint16_t port, const std::string& target, const std::string& host = "");

}  // namespace vintrel::testing
