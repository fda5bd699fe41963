#include "web/web_client.hpp"

#include "platform/asio.hpp"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <stdexcept>

namespace vintrel::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

constexpr auto step_timeout = std::chrono::seconds(10);

// Runs `io` until `done` or the time-out; false on time-out.
bool run_until(asio::io_context& io, const bool& done, std::chrono::milliseconds timeout) {
  io.restart();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done && std::chrono::steady_clock::now() < deadline) io.run_one_until(deadline);
  return done;
}

}  // namespace

ServedControls::ServedControls(Options options) : dialog_(loop_, folder_.path().string()) {
  channel_options_.dialog = &dialog_;
  channel_options_.allow_open = options.allow_open;
  channel_options_.tick_interval = 20;
  channel_options_.loop = &loop_;
  channel_options_.max_rate = options.max_rate;
  channel_options_.folder = folder_.path().string();
  web::ServerOptions server_options;
  server_options.allowed_origins = options.allowed_origins;
  server_options.detached_grace = options.detached_grace;
  server_options.log = [this](const std::string& line) {
    const std::lock_guard lock(mutex_);
    log_.push_back(line);
    logged_.notify_all();
  };
  server_ = std::make_unique<web::Server>(loop_, server_options, [this](const web::Peer& peer, web::Outlet outlet) {
    return web::make_control_channel(machine_, std::move(outlet), channel_options_, peer.session);
  });
  port_ = server_->port();
  token_ = server_->token();
  thread_ = std::thread([this] { loop_.run(); });
}

ServedControls::~ServedControls() {
  loop_.stop();
  thread_.join();
  server_.reset();
}

std::optional<std::string> ServedControls::wait_for_log(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  std::optional<std::string> found;
  logged_.wait_for(lock, timeout, [&] {
    for (const auto& line : log_)
      if (line.find(text) != std::string::npos) found = line;
    return found.has_value();
  });
  return found;
}

struct PageClient::Impl {
  asio::io_context io;
  websocket::stream<tcp::socket> ws{io};
  beast::flat_buffer buffer;
};

PageClient::PageClient() : impl_(std::make_unique<Impl>()) {}

PageClient::~PageClient() {
  beast::error_code ignored;
  impl_->ws.next_layer().close(ignored);
}

int PageClient::connect(std::uint16_t port, const std::string& target, const std::string& origin,
                        const std::string& host) {
  auto& ws = impl_->ws;
  ws.next_layer().connect(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port));
  ws.set_option(websocket::stream_base::decorator([origin](websocket::request_type& request) {
    if (!origin.empty()) request.set(http::field::origin, origin);
  }));
  websocket::response_type response;
  bool done = false;
  ws.async_handshake(response, host.empty() ? "127.0.0.1:" + std::to_string(port) : host, target,
                     [&](beast::error_code) { done = true; });
  if (!run_until(impl_->io, done, step_timeout)) throw std::runtime_error("handshake timed out");
  return static_cast<int>(response.result_int());
}

std::optional<std::string> PageClient::read(std::chrono::milliseconds timeout) {
  bool done = false;
  beast::error_code error;
  impl_->ws.async_read(impl_->buffer, [&](beast::error_code e, std::size_t) {
    error = e;
    done = true;
  });
  if (!run_until(impl_->io, done, timeout)) {
    impl_->ws.next_layer().cancel();
    run_until(impl_->io, done, step_timeout);
    return std::nullopt;
  }
  if (error) return std::nullopt;
  std::string text = beast::buffers_to_string(impl_->buffer.data());
  impl_->buffer.consume(impl_->buffer.size());
  return text;
}

Json PageClient::request(Json message) {
  const int id = next_id_++;
  message["id"] = id;
  impl_->ws.text(true);
  impl_->ws.write(asio::buffer(message.dump()));
  for (;;) {
    const auto text = read(step_timeout);
    if (!text) throw std::runtime_error("no answer to " + message.dump());
    Json answer = Json::parse(*text);
    if (answer.contains("event")) {
      events_.push_back(answer);
      continue;
    }
    if (answer.value("id", 0) == id) return answer;
  }
}

Json PageClient::request_text(const std::string& text) {
  impl_->ws.text(true);
  impl_->ws.write(asio::buffer(text));
  for (;;) {
    const auto answer = read(step_timeout);
    if (!answer) throw std::runtime_error("no answer to a message of " + std::to_string(text.size()) + " bytes");
    Json message = Json::parse(*answer);
    if (!message.contains("event")) return message;
    events_.push_back(message);
  }
}

Json PageClient::wait_for_event(const std::string& name, std::chrono::milliseconds timeout) {
  return wait_for_event(name, 1, timeout);
}

Json PageClient::wait_for_event(const std::string& name, std::size_t nth, std::chrono::milliseconds timeout) {
  std::size_t seen = 0;
  for (const auto& event : events_)
    if (event["event"] == name && ++seen == nth) return event;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto text =
        read(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
    if (!text) break;
    Json message = Json::parse(*text);
    if (!message.contains("event")) continue;
    events_.push_back(message);
    if (message["event"] == name && ++seen == nth) return message;
  }
  throw std::runtime_error("no event " + name);
}

bool PageClient::wait_for_close() {
  for (int frames = 0; frames < 1000; ++frames)
    if (!read(step_timeout)) return true;
  return false;
}

PageClient::Closing PageClient::closing() const {
  const auto& reason = impl_->ws.reason();
  return Closing{reason.code, std::string(reason.reason.data(), reason.reason.size())};
}

HttpAnswer http_get(std::uint16_t port, const std::string& target, const std::string& host) {
  asio::io_context io;
  beast::tcp_stream stream(io);
  stream.expires_after(step_timeout);
  stream.connect(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port));
  http::request<http::empty_body> request(http::verb::get, target, 11);
  request.set(http::field::host, host.empty() ? "127.0.0.1:" + std::to_string(port) : host);
  http::response<http::string_body> response;
  beast::flat_buffer buffer;
  bool done = false;
  http::async_write(stream, request, [&](beast::error_code error, std::size_t) {
    if (error) {
      done = true;
      return;
    }
    http::async_read(stream, buffer, response, [&](beast::error_code, std::size_t) { done = true; });
  });
  run_until(io, done, step_timeout);
  return HttpAnswer{static_cast<int>(response.result_int()), response.body(),
                    std::string(response[http::field::content_type]), std::string(response["Content-Security-Policy"])};
}

}  // namespace vintrel::testing
