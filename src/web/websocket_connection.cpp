#include "web/websocket_connection.hpp"

#include <utility>

#include "web/listener.hpp"
#include "web/security.hpp"

namespace vintrel::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace {

// One protocol message: a method call with a URL is a few hundred bytes.
constexpr std::size_t max_message = std::size_t{1024} * 1024;
// A page that stops reading its frames is cut off rather than growing this.
constexpr std::size_t max_queued_bytes = std::size_t{16} * 1024 * 1024;

}  // namespace

WebSocketConnection::WebSocketConnection(std::shared_ptr<Server::Impl> server, beast::tcp_stream stream,
                                         std::uint64_t id, Peer peer, std::optional<websocket::close_reason> refusal,
                                         bool resuming)
    : server_(std::move(server)),
      ws_(std::move(stream)),
      id_(id),
      peer_(std::move(peer)),
      refusal_(std::move(refusal)),
      resuming_(resuming) {}

void WebSocketConnection::give_up() {
  given_up_ = true;
  server_->manager.remove(id_);
  server_->log("connection " + std::to_string(id_) + " from " + peer_.address + " (origin " + peer_.origin +
               ") given up for a newer one: " + std::string(replaced_reason));
  if (channel_) server_->manager.drop(peer_.session, "given up");
  channel_.reset();
  // What the page has not been sent yet no longer matters; a frame being
  // written is finished first.
  if (out_.size() > 1) out_.erase(out_.begin() + 1, out_.end());
  close_after_queue(websocket::close_reason(static_cast<websocket::close_code>(close_code::replaced),
                                            beast::string_view(replaced_reason.data(), replaced_reason.size())));
}

void WebSocketConnection::surrender() {
  surrendered_ = true;
  channel_.reset();
  if (out_.size() > 1) out_.erase(out_.begin() + 1, out_.end());
  close_after_queue(websocket::close_reason(static_cast<websocket::close_code>(close_code::taken_over),
                                            beast::string_view(taken_over_reason.data(), taken_over_reason.size())));
}

void WebSocketConnection::start(const http::request<http::string_body>& request) {
  ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
  ws_.set_option(websocket::stream_base::decorator(
      [](websocket::response_type& response) { response.set(http::field::server, "vintrel"); }));
  ws_.read_message_max(max_message);
  ws_.async_accept(request, [self = shared_from_this()](beast::error_code error) { self->accepted(error); });
}

void WebSocketConnection::shut() {
  ended_ = true;
  open_ = false;
  channel_.reset();
  beast::error_code ignored;
  beast::get_lowest_layer(ws_).socket().close(ignored);
}

void WebSocketConnection::accepted(beast::error_code error) {
  if (error) return end("handshake failed: " + error.message());
  if (refusal_) {
    open_ = true;
    return close_after_queue(*refusal_);
  }
  open_ = true;
  std::weak_ptr<WebSocketConnection> weak = weak_from_this();
  Outlet outlet{[weak](std::string message) {
                  if (auto self = weak.lock()) self->send(std::move(message));
                },
                [weak] {
                  if (auto self = weak.lock()) self->close_after_queue();
                },
                [weak]() -> std::string {
                  const auto self = weak.lock();
                  return self ? self->server_->manager.list_sessions(self->peer_.origin, self->peer_.session) : "[]";
                }};
  auto self = shared_from_this();
  channel_ = resuming_ ? server_->manager.resume(self) : nullptr;
  if (channel_) {
    channel_->attach(std::move(outlet));
  } else {
    // An unknown or ended session gets a control of its own, under a
    // new identifier the page learns from its control.
    if (resuming_) peer_.session = make_token();
    server_->log("connection " + std::to_string(id_) + " from " + peer_.address + " (origin " + peer_.origin +
                 ") opened; a control of its own");
    channel_ = server_->factory(peer_, std::move(outlet));
    server_->manager.keep(channel_, self);
  }
  read();
}

void WebSocketConnection::read() {
  if (!open_ || closing_) return;
  ws_.async_read(in_, [self = shared_from_this()](beast::error_code error, std::size_t) { self->arrived(error); });
}

void WebSocketConnection::arrived(beast::error_code error) {
  if (error) {
    if (error == websocket::error::closed) return end("closed by the page");
    return end(error.message());
  }
  if (!ws_.got_text()) return end("a binary frame; the protocol is text");
  std::string message = beast::buffers_to_string(in_.data());
  in_.consume(in_.size());
  // The channel may run the loop inside (StartQueue waits for its folder
  // so); the page's next requests are handled meanwhile, inside it, as
  // the protocol allows, and this connection stays alive through it.
  const auto keep = shared_from_this();
  read();
  // Held here too: the connection may let its channel go meanwhile.
  if (const auto channel = channel_) {
    ++receiving_;
    channel->receive(message);
    --receiving_;
  }
}

void WebSocketConnection::send(std::string message) {
  if (!open_ || closing_) return;
  queued_bytes_ += message.size();
  if (queued_bytes_ > max_queued_bytes) return end("the page does not read its messages");
  out_.push_back(std::move(message));
  if (!writing_) write();
}

void WebSocketConnection::write() {
  writing_ = true;
  ws_.text(true);
  ws_.async_write(asio::buffer(out_.front()),
                  [self = shared_from_this()](beast::error_code error, std::size_t) { self->written(error); });
}

void WebSocketConnection::written(beast::error_code error) {
  writing_ = false;
  if (!open_) return;
  if (error) return end(error.message());
  queued_bytes_ -= out_.front().size();
  out_.pop_front();
  if (!out_.empty()) return write();
  if (closing_) close_now();
}

void WebSocketConnection::close_after_queue(websocket::close_reason reason) {
  if (!open_ || closing_) return;
  closing_ = true;
  close_reason_ = std::move(reason);
  if (!writing_) close_now();
}

void WebSocketConnection::close_now() {
  std::string why = close_reason_.code == websocket::close_code::normal
                        ? std::string("closed by the control")
                        : "closed with " + std::to_string(close_reason_.code) + " " +
                              std::string(close_reason_.reason.data(), close_reason_.reason.size());
  ws_.async_close(close_reason_,
                  [self = shared_from_this(), why = std::move(why)](beast::error_code) { self->end(why); });
}

void WebSocketConnection::end(const std::string& why) {
  if (ended_) return;
  ended_ = true;
  open_ = false;
  server_->log("connection " + std::to_string(id_) + " from " + peer_.address + " ended: " + why);
  server_->manager.remove(id_);
  // The control outlives its page, which may come back for it; one that
  // quit, or whose server goes, ends with it.
  if (channel_ && !surrendered_) {
    if (channel_->finished() || server_->closing) {
      server_->manager.drop(peer_.session, "ended with its connection");
    } else if (server_->manager.detach(peer_.session)) {
      channel_->detach();
      server_->log("control of connection " + std::to_string(id_) + " kept for its page to come back");
    }
  }
  channel_.reset();
  beast::error_code ignored;
  beast::get_lowest_layer(ws_).socket().close(ignored);
}

}  // namespace vintrel::web
