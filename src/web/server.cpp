#include "web/server.hpp"

// asio.hpp first: it works around a missing include of Boost 1.74's Asio.
#include "platform/asio.hpp"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/event_loop.hpp"
#include "web/assets.hpp"
#include "web/security.hpp"

namespace vintrel::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

constexpr auto http_timeout = std::chrono::seconds(30);
// Requests are small; a page sends nothing but its request line and headers.
constexpr std::uint64_t max_request_body = 16 * 1024;
// One protocol message: a method call with a URL is a few hundred bytes.
constexpr std::size_t max_message = 1024 * 1024;
// A page that stops reading its frames is cut off rather than growing this.
constexpr std::size_t max_queued_bytes = 16 * 1024 * 1024;

std::string describe(const tcp::endpoint& endpoint) {
  return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

std::optional<std::string_view> header(const http::request<http::string_body>& request, http::field field) {
  const auto found = request.find(field);
  if (found == request.end()) return std::nullopt;
  return std::string_view(found->value().data(), found->value().size());
}

}  // namespace

std::string too_many_reason(std::size_t cap) {
  return "Too many Vintrel connections from this origin (" + std::to_string(cap) + "); close other tabs";
}

class WebSocketConnection;

// A channel kept by the server, with the connection of the page attached
// to it, if any.
struct KeptChannel {
  std::shared_ptr<Channel> channel;
  std::string origin;
  std::weak_ptr<WebSocketConnection> page;
  std::uint64_t order = 0;  // which was opened first, for making room
  std::optional<std::chrono::steady_clock::time_point> idle_since;
};

struct Server::Impl : std::enable_shared_from_this<Server::Impl> {
  Impl(platform::EventLoop& loop, ServerOptions opts, ChannelFactory make)
      : io(platform::asio_context(loop)),
        options(std::move(opts)),
        factory(std::move(make)),
        gate(options.token.empty() ? make_token() : options.token, options.allowed_origins),
        acceptor(io),
        sweeper(io) {}

  asio::io_context& io;
  ServerOptions options;
  ChannelFactory factory;
  Gate gate;
  tcp::acceptor acceptor;
  std::uint16_t port = 0;
  std::uint64_t next_id = 1;
  std::map<std::uint64_t, std::weak_ptr<WebSocketConnection>> connections;
  std::map<std::string, KeptChannel> sessions;
  asio::steady_timer sweeper;
  bool closing = false;

  void log(const std::string& line) const {
    if (options.log) options.log(line);
  }
  void listen();
  void accept();
  /// Makes room for a new connection from `origin`: true when it may have a
  /// control, after closing the oldest idle connection of that origin if
  /// the origin is at its cap.
  bool make_room(const std::string& origin);
  /// Ends a kept channel for good.
  void drop(const std::string& session, const std::string& why);
  /// Drops the channels no page came back to within the grace period.
  void sweep();
  void schedule_sweep();
};

// One WebSocket connection and the channel (control) it drives.
class WebSocketConnection final : public std::enable_shared_from_this<WebSocketConnection> {
 public:
  /// A connection that gets a control once its handshake is done; with a
  /// `refusal`, one that is closed with it right after the handshake, so
  /// the page learns why (a refused handshake says nothing a page can read).
  WebSocketConnection(std::shared_ptr<Server::Impl> server, beast::tcp_stream stream, std::uint64_t id, Peer peer,
                      std::optional<websocket::close_reason> refusal = std::nullopt, bool resuming = false)
      : server_(std::move(server)), ws_(std::move(stream)), id_(id), peer_(std::move(peer)),
        refusal_(std::move(refusal)), resuming_(resuming) {}

  const Peer& peer() const { return peer_; }
  /// Counts toward its origin's cap: neither refused nor given up.
  bool counted() const { return !refusal_ && !ended_ && !given_up_ && !surrendered_; }
  /// Nothing under way: the page is not waiting on a request and the
  /// control downloads nothing. A handshake in progress is not idle; it
  /// lasts as long as one write.
  bool idle() const { return open_ && !closing_ && receiving_ == 0 && (!channel_ || channel_->idle()); }

  // Closes the connection with the "replaced" code and reason, and ends its
  // control now, so the newer connection has its place at once.
  void give_up() {
    given_up_ = true;
    server_->connections.erase(id_);
    server_->log("connection " + std::to_string(id_) + " from " + peer_.address + " (origin " + peer_.origin +
                 ") given up for a newer one: " + std::string(replaced_reason));
    if (channel_) server_->drop(peer_.session, "given up");
    channel_.reset();
    // What the page has not been sent yet no longer matters; a frame being
    // written is finished first.
    if (out_.size() > 1) out_.erase(out_.begin() + 1, out_.end());
    close_after_queue(websocket::close_reason(static_cast<websocket::close_code>(close_code::replaced),
                                              beast::string_view(replaced_reason.data(), replaced_reason.size())));
  }

  // Another page of the origin took this one's control: the connection
  // closes, the control goes on for that page.
  void surrender() {
    surrendered_ = true;
    channel_.reset();
    if (out_.size() > 1) out_.erase(out_.begin() + 1, out_.end());
    close_after_queue(websocket::close_reason(static_cast<websocket::close_code>(close_code::taken_over),
                                              beast::string_view(taken_over_reason.data(), taken_over_reason.size())));
  }

  void start(const http::request<http::string_body>& request) {
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "vintrel"); }));
    ws_.read_message_max(max_message);
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code error) { self->accepted(error); });
  }

  // Ends the connection and its control now; used when the server goes.
  void shut() {
    ended_ = true;
    open_ = false;
    channel_.reset();
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

 private:
  void accepted(beast::error_code error) {
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
                  }};
    const auto kept = resuming_ ? server_->sessions.find(peer_.session) : server_->sessions.end();
    if (kept != server_->sessions.end() && kept->second.origin == peer_.origin && !kept->second.channel->finished()) {
      const auto previous = kept->second.page.lock();
      server_->log("connection " + std::to_string(id_) + " from " + peer_.address + " (origin " + peer_.origin +
                   ") took its control back" + (previous ? " from connection " + std::to_string(previous->id_) : ""));
      if (previous) previous->surrender();
      kept->second.page = weak;
      kept->second.idle_since.reset();
      channel_ = kept->second.channel;
      channel_->attach(std::move(outlet));
    } else {
      // An unknown or ended session gets a control of its own, under a
      // new identifier the page learns from its control.
      if (resuming_) peer_.session = make_token();
      server_->log("connection " + std::to_string(id_) + " from " + peer_.address + " (origin " + peer_.origin +
                   ") opened; a control of its own");
      channel_ = server_->factory(peer_, std::move(outlet));
      server_->sessions[peer_.session] = KeptChannel{channel_, peer_.origin, weak, id_, std::nullopt};
    }
    read();
  }

  void read() {
    if (!open_ || closing_) return;
    ws_.async_read(in_, [self = shared_from_this()](beast::error_code error, std::size_t) { self->arrived(error); });
  }

  void arrived(beast::error_code error) {
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

  void send(std::string message) {
    if (!open_ || closing_) return;
    queued_bytes_ += message.size();
    if (queued_bytes_ > max_queued_bytes) return end("the page does not read its messages");
    out_.push_back(std::move(message));
    if (!writing_) write();
  }

  void write() {
    writing_ = true;
    ws_.text(true);
    ws_.async_write(asio::buffer(out_.front()),
                    [self = shared_from_this()](beast::error_code error, std::size_t) { self->written(error); });
  }

  void written(beast::error_code error) {
    writing_ = false;
    if (!open_) return;
    if (error) return end(error.message());
    queued_bytes_ -= out_.front().size();
    out_.pop_front();
    if (!out_.empty()) return write();
    if (closing_) close_now();
  }

  void close_after_queue(websocket::close_reason reason = websocket::close_code::normal) {
    if (!open_ || closing_) return;
    closing_ = true;
    close_reason_ = std::move(reason);
    if (!writing_) close_now();
  }

  void close_now() {
    std::string why = close_reason_.code == websocket::close_code::normal
                          ? std::string("closed by the control")
                          : "closed with " + std::to_string(close_reason_.code) + " " +
                                std::string(close_reason_.reason.data(), close_reason_.reason.size());
    ws_.async_close(close_reason_, [self = shared_from_this(), why = std::move(why)](beast::error_code) {
      self->end(why);
    });
  }

  void end(const std::string& why) {
    if (ended_) return;
    ended_ = true;
    open_ = false;
    server_->log("connection " + std::to_string(id_) + " from " + peer_.address + " ended: " + why);
    server_->connections.erase(id_);
    // The control outlives its page, which may come back for it; one that
    // quit, or whose server goes, ends with it.
    if (channel_ && !surrendered_) {
      if (channel_->finished() || server_->closing) {
        server_->drop(peer_.session, "ended with its connection");
      } else if (const auto kept = server_->sessions.find(peer_.session); kept != server_->sessions.end()) {
        kept->second.page.reset();
        channel_->detach();
        server_->log("control of connection " + std::to_string(id_) + " kept for its page to come back");
      }
    }
    channel_.reset();
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

  std::shared_ptr<Server::Impl> server_;
  websocket::stream<beast::tcp_stream> ws_;
  std::uint64_t id_;
  Peer peer_;
  std::shared_ptr<Channel> channel_;
  beast::flat_buffer in_;
  std::deque<std::string> out_;
  std::size_t queued_bytes_ = 0;
  bool open_ = false;
  bool writing_ = false;
  bool closing_ = false;
  bool ended_ = false;
  bool given_up_ = false;
  bool surrendered_ = false;
  int receiving_ = 0;
  std::optional<websocket::close_reason> refusal_;
  bool resuming_ = false;
  websocket::close_reason close_reason_;
};

bool Server::Impl::make_room(const std::string& origin) {
  std::size_t counted = 0;
  std::shared_ptr<WebSocketConnection> oldest_idle;
  // The map is ordered by id, so the first idle one found is the oldest.
  for (auto& [id, weak] : connections) {
    const auto connection = weak.lock();
    if (!connection || !connection->counted() || connection->peer().origin != origin) continue;
    ++counted;
    if (!oldest_idle && connection->idle()) oldest_idle = connection;
  }
  // Controls whose page left count too; one with a queue at work is busy,
  // and an idle one goes before any page that is still there.
  const KeptChannel* oldest_left = nullptr;
  std::string oldest_left_id;
  for (auto& [session, kept] : sessions) {
    if (kept.origin != origin || !kept.page.expired()) continue;
    ++counted;
    if (kept.channel->idle() && (!oldest_left || kept.order < oldest_left->order)) {
      oldest_left = &kept;
      oldest_left_id = session;
    }
  }
  if (counted < options.max_per_origin) return true;
  if (oldest_left) {
    drop(oldest_left_id, "given up for a newer connection");
    return true;
  }
  if (!oldest_idle) return false;
  oldest_idle->give_up();
  return true;
}

void Server::Impl::drop(const std::string& session, const std::string& why) {
  const auto kept = sessions.find(session);
  if (kept == sessions.end()) return;
  // Out of the map first: what peer_gone() sets off may look for it.
  const std::shared_ptr<Channel> channel = std::move(kept->second.channel);
  const bool detached = kept->second.page.expired();
  sessions.erase(kept);
  if (detached) log("a control whose page left was dropped: " + why);
  channel->peer_gone();
}

void Server::Impl::sweep() {
  const auto now = std::chrono::steady_clock::now();
  std::vector<std::string> expired;
  for (auto& [session, kept] : sessions) {
    if (!kept.page.expired()) continue;
    if (!kept.channel->idle()) {
      kept.idle_since.reset();
      continue;
    }
    if (!kept.idle_since) kept.idle_since = now;
    if (now - *kept.idle_since >= options.detached_grace) expired.push_back(session);
  }
  for (const auto& session : expired) drop(session, "nobody came back for it");
}

void Server::Impl::schedule_sweep() {
  const auto period = std::clamp<std::chrono::milliseconds>(options.detached_grace / 4, std::chrono::milliseconds(20),
                                                            std::chrono::milliseconds(1000));
  sweeper.expires_after(period);
  sweeper.async_wait([weak = weak_from_this()](beast::error_code error) {
    const auto self = weak.lock();
    if (error || !self || self->closing) return;
    self->sweep();
    self->schedule_sweep();
  });
}

namespace {

// One plain HTTP connection: pages for requests, a WebSocket for an upgrade.
class HttpConnection final : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(std::shared_ptr<Server::Impl> server, tcp::socket socket)
      : server_(std::move(server)), stream_(std::move(socket)) {
    beast::error_code ignored;
    peer_ = describe(stream_.socket().remote_endpoint(ignored));
  }

  void read() {
    parser_.emplace();
    parser_->body_limit(max_request_body);
    stream_.expires_after(http_timeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) { self->arrived(error); });
  }

 private:
  void arrived(beast::error_code error) {
    if (error) return;  // closed, timed out or malformed: nothing to answer
    auto request = parser_->release();
    const bool upgrading = websocket::is_upgrade(request);
    // One gate for everything the server takes, upgrades included.
    const std::string_view target(request.target().data(), request.target().size());
    admitted_ = server_->gate.admit(Knock{header(request, http::field::host), header(request, http::field::origin),
                                          target, upgrading});
    if (!admitted_.allowed) {
      server_->log(std::string(upgrading ? "refused a WebSocket connection from " : "refused a request from ") +
                   peer_ + ": " + admitted_.reason);
      return answer(request, http::status::forbidden, "text/plain; charset=utf-8",
                    "Refused: " + admitted_.reason + "\n", false);
    }
    if (upgrading) return upgrade(request);
    respond(request);
  }

  void upgrade(const http::request<http::string_body>& request) {
    const std::string_view target(request.target().data(), request.target().size());
    if (target.substr(0, target.find('?')) != "/control") {
      server_->log("refused a WebSocket connection from " + peer_ + ": no such endpoint");
      return answer(request, http::status::forbidden, "text/plain; charset=utf-8", "Refused: no such endpoint\n",
                    false);
    }
    const Verdict& verdict = admitted_;
    // A page coming back for its control takes no more room than it had.
    std::string session = query_parameter(target, "session").value_or("");
    const auto kept = server_->sessions.find(session);
    const bool resuming = kept != server_->sessions.end() && kept->second.origin == verdict.origin;
    if (!resuming) session = make_token();
    // Past the gate the page is entitled to an answer it can read: when its
    // origin has no room, the handshake succeeds and the close frame says why.
    std::optional<websocket::close_reason> refusal;
    if (!resuming && !server_->make_room(verdict.origin)) {
      const std::size_t cap = server_->options.max_per_origin;
      server_->log("refused a WebSocket connection from " + peer_ + ": too many connections from origin " +
                   verdict.origin + " (" + std::to_string(cap) + ", none idle)");
      refusal.emplace(static_cast<websocket::close_code>(close_code::too_many), too_many_reason(cap));
    }
    const std::uint64_t id = server_->next_id++;
    stream_.expires_never();
    auto connection = std::make_shared<WebSocketConnection>(
        server_, std::move(stream_), id, Peer{peer_, verdict.origin, session}, std::move(refusal), resuming);
    server_->connections.emplace(id, connection);
    connection->start(request);
  }

  void respond(const http::request<http::string_body>& request) {
    const bool keep = request.keep_alive();
    if (request.method() != http::verb::get && request.method() != http::verb::head)
      return answer(request, http::status::method_not_allowed, "text/plain; charset=utf-8", "GET only\n", keep);
    const std::string_view target(request.target().data(), request.target().size());
    const Asset* asset = find_asset(target.substr(0, target.find('?')));
    if (!asset) return answer(request, http::status::not_found, "text/plain; charset=utf-8", "Not found\n", keep);
    std::string body(asset->body);
    if (asset->content_type.substr(0, 9) == "text/html") {
      for (auto at = body.find(token_placeholder); at != std::string::npos; at = body.find(token_placeholder))
        body.replace(at, token_placeholder.size(), server_->gate.token());
    }
    answer(request, http::status::ok, asset->content_type, std::move(body), keep);
  }

  void answer(const http::request<http::string_body>& request, http::status status, std::string_view type,
              std::string body, bool keep) {
    auto response = std::make_shared<http::response<http::string_body>>(status, request.version());
    response->set(http::field::server, "vintrel");
    response->set(http::field::content_type, beast::string_view(type.data(), type.size()));
    // The pages carry the run's token: never cached, never framed by
    // another site, never sniffed into something else.
    response->set(http::field::cache_control, "no-store");
    response->set("X-Content-Type-Options", "nosniff");
    response->set("X-Frame-Options", "DENY");
    response->set("Referrer-Policy", "no-referrer");
    const std::string port = std::to_string(server_->port);
    response->set("Content-Security-Policy",
                  "default-src 'self'; connect-src 'self' ws://127.0.0.1:" + port + " ws://localhost:" + port +
                      "; img-src 'self' data:; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'");
    const bool head = request.method() == http::verb::head;
    response->body() = std::move(body);
    response->prepare_payload();
    if (head) response->body().clear();
    response->keep_alive(keep);
    http::async_write(stream_, *response,
                      [self = shared_from_this(), response, keep](beast::error_code error, std::size_t) {
                        if (error || !keep) {
                          beast::error_code ignored;
                          self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
                          return;
                        }
                        self->read();
                      });
  }

  std::shared_ptr<Server::Impl> server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::string peer_;
  Verdict admitted_;  // the gate's word on the request in hand
};

}  // namespace

void Server::Impl::listen() {
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), options.port);
  acceptor.open(endpoint.protocol());
  acceptor.set_option(asio::socket_base::reuse_address(true));
  acceptor.bind(endpoint);
  acceptor.listen(asio::socket_base::max_listen_connections);
  port = acceptor.local_endpoint().port();
  gate.set_port(port);
}

void Server::Impl::accept() {
  acceptor.async_accept([weak = weak_from_this()](beast::error_code error, tcp::socket socket) {
    const auto self = weak.lock();
    if (!self || self->closing) return;
    if (!error) std::make_shared<HttpConnection>(self, std::move(socket))->read();
    self->accept();
  });
}

Server::Server(platform::EventLoop& loop, ServerOptions options, ChannelFactory factory)
    : impl_(std::make_shared<Impl>(loop, std::move(options), std::move(factory))) {
  try {
    impl_->listen();
  } catch (const boost::system::system_error& error) {
    throw std::system_error(error.code().value(), std::generic_category(),
                            "cannot listen on 127.0.0.1:" + std::to_string(impl_->options.port));
  }
  impl_->accept();
  impl_->schedule_sweep();
}

Server::~Server() {
  impl_->closing = true;
  beast::error_code ignored;
  impl_->acceptor.close(ignored);
  // Copies: shutting a connection may erase it from the map.
  std::vector<std::shared_ptr<WebSocketConnection>> open;
  for (auto& [id, weak] : impl_->connections)
    if (auto connection = weak.lock()) open.push_back(connection);
  impl_->connections.clear();
  for (auto& connection : open) connection->shut();
  impl_->sweeper.cancel();
  std::vector<std::string> kept;
  for (const auto& [session, channel] : impl_->sessions) kept.push_back(session);
  for (const auto& session : kept) impl_->drop(session, "the server stops");
}

std::uint16_t Server::port() const { return impl_->port; }

std::string Server::origin() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

const std::string& Server::token() const { return impl_->gate.token(); }

std::size_t Server::connections() const { return impl_->connections.size(); }

std::size_t Server::sessions() const { return impl_->sessions.size(); }

}  // namespace vintrel::web
