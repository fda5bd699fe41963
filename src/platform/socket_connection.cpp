// A connection's life: connecting (resolution, the addresses in turn, the
// secure handshake), going live, failing and closing. Reads, writes and the
// idle limit are in socket_connection_transfer.cpp.

#include "platform/socket_connection.hpp"

#include <array>
#include <utility>

#include "automation/automation.hpp"
#include "http/authority.hpp"
#include "http/tunnel.hpp"
#include "platform/asio_platform.hpp"
#include "platform/resolver.hpp"
#include "platform/tls_context.hpp"

namespace vintrel::platform {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

constexpr std::int32_t wrong_state = 40006;

}  // namespace

std::int16_t SocketConnection::socket_error_number(const error_code& ec) {
  if (ec.category() == boost::system::system_category() || ec.category() == boost::system::generic_category()) {
    return socket_error_from_errno(ec.value());
  }
  return sck_err::aborted;
}

SocketConnection::SocketConnection(asio::io_context& io, ConnectionSettings settings, ConnectionOwner& owner,
                                   std::int16_t index)
    : io_(io),
      settings_(std::move(settings)),
      owner_(&owner),
      index_(index),
      socket_(io),
      connect_timer_(io),
      idle_timer_(io) {}

void SocketConnection::connect(const std::string& host, std::int32_t port, bool secure) {
  const auto self = shared_from_this();
  stop_io();
  clear_received();
  state_ = sck::resolving;
  secure_ = secure;
  server_port_ = port;
  proxy_ = settings_.proxies ? settings_.proxies->route(host, port, secure) : nullptr;
  proxy_reached_ = false;
  // A URL's IPv6 literal comes in brackets; the certificate names it bare.
  host_ = host.size() > 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
  const std::uint64_t gen = generation_;

  if (settings_.timeouts.connect.count() > 0) {
    // Covers resolution, connection and the secure handshake together.
    connect_timer_.expires_after(settings_.timeouts.connect);
    connect_timer_.async_wait([self, gen](const error_code& ec) {
      if (ec || !self->current(gen)) return;
      if (self->state_ != sck::resolving && self->state_ != sck::connecting && !self->early_) return;
      self->fail(sck_err::timed_out);
    });
  }

  if (port < 1 || port > 65535) {
    post_failure(gen, 10049);
    return;
  }
  port_ = proxy_ != nullptr ? proxy_->port : static_cast<std::uint16_t>(port);

  // A resolver that answers before resolve() returns would put the answer
  // inside Connect; such an answer is sent round the loop first.
  initiating_ = true;
  settings_.resolver.resolve(proxy_ != nullptr ? proxy_->host : host,
                             [self, gen](std::int16_t error, const std::vector<std::string>& addresses) {
                               if (!self->current(gen)) return;
                               if (self->initiating_) {
                                 asio::post(self->socket_.get_executor(), [self, gen, error, addresses] {
                                   if (self->current(gen)) self->resolved(gen, error, addresses);
                                 });
                                 return;
                               }
                               self->resolved(gen, error, addresses);
                             });
  initiating_ = false;
}

void SocketConnection::send(std::string_view data) {
  const bool on_the_way = state_ == sck::resolving || state_ == sck::connecting || early_;
  if (!on_the_way && state_ != sck::connected) {
    automation::raise(wrong_state, "Winsock", socket_error_text(wrong_state));
  }
  if (data.empty()) return;
  pending_writes_.append(data);
  // Data given before the connection is up goes out once it is.
  if (on_the_way) return;
  note_sent();
  if (!writing_) start_write(generation_);
}

void SocketConnection::adopt(ConnectionOwner& owner, std::int16_t index, std::size_t read_size) {
  owner_ = &owner;
  index_ = index;
  read_size_ = read_size;
  hold_handshake_ = false;
  if (held_) {
    held_ = false;
    error_code ignored;
    socket_.cancel(ignored);  // the watch for the server's end
    asio::post(io_, [self = shared_from_this(), gen = generation_] {
      if (self->current(gen)) self->start_handshake(gen);
    });
    return;
  }
  if (state_ != sck::connected) return;
  // Its Connect went to whoever opened it: the element hears it now, as it
  // would from a connection of its own, never inside its Connect call.
  asio::post(io_, [self = shared_from_this(), gen = generation_] {
    if (!self->current(gen) || self->state_ != sck::connected) return;
    if (SocketEvents* sink = self->events()) sink->on_connect(self->index_);
  });
}

void SocketConnection::close() {
  stop_io();
  clear_received();
  state_ = sck::closed;
  // A queue of a hundred files must not keep a hundred receive buffers.
  // The buffer goes on the next loop turn: a view take() gave out in this
  // handler may still point into it.
  if (buffer_) {
    asio::post(socket_.get_executor(), [retired = std::shared_ptr<std::uint8_t[]>(std::move(buffer_))] {});
  }
}

void SocketConnection::detach() {
  stop_io();
  owner_ = nullptr;
}

// Ends whatever the connection is doing; later completions of it are
// stale. What has arrived is kept.
void SocketConnection::stop_io() {
  ++generation_;
  // No close_notify exchange: a closed element is closed now. The session
  // goes before the descriptor it runs over.
  tls_.reset();
  error_code ignored;
  socket_.close(ignored);
  connect_timer_.cancel();
  idle_timer_.cancel();
  initiating_ = false;
  endpoints_.clear();
  next_endpoint_ = 0;
  pending_writes_.clear();
  early_ = false;
  std::string().swap(early_writes_);
  writing_ = false;
  std::string().swap(tunnel_answer_);
  held_ = false;
  sent_ = false;
  idle_armed_ = false;
  peer_ended_ = false;
  read_paused_ = false;
}

void SocketConnection::clear_received() {
  // `handed_` stays: a view take() gave out lives until control returns to
  // the loop, even across a Close in the same handler.
  fresh_ = 0;
  backlog_.clear();
}

void SocketConnection::post_failure(std::uint64_t gen, std::int16_t number) {
  asio::post(io_, [self = shared_from_this(), gen, number] {
    if (self->current(gen)) self->fail(number);
  });
}

// `description` says more than the number's usual text (what a secure
// handshake found wrong); empty gives the usual text.
void SocketConnection::fail(std::int16_t number, std::string description) {
  // Until the proxy answers, what failed is the way to it; said so, the
  // user does not look for the fault at the server.
  if (description.empty() && proxy_ != nullptr && !proxy_reached_) {
    description = socket_error_text(number) + " (proxy " + proxy_->label() + ")";
  }
  stop_io();
  state_ = sck::error;
  SocketError error;
  error.Number = number;
  error.Description = description.empty() ? socket_error_text(number) : std::move(description);
  error.Scode = number;
  if (SocketEvents* sink = events()) sink->on_error(index_, error);
}

void SocketConnection::notify_close() {
  if (SocketEvents* sink = events()) sink->on_close(index_);
}

void SocketConnection::resolved(std::uint64_t gen, std::int16_t error, const std::vector<std::string>& addresses) {
  if (error != 0) {
    fail(error);
    return;
  }
  for (const std::string& text : addresses) {
    error_code ec;
    const asio::ip::address address = asio::ip::make_address(text, ec);
    if (!ec) endpoints_.emplace_back(address, port_);
  }
  if (endpoints_.empty()) {
    fail(sck_err::host_not_found);
    return;
  }
  state_ = sck::connecting;
  connect_next(gen);
}

void SocketConnection::connect_next(std::uint64_t gen) {
  error_code ignored;
  socket_.close(ignored);
  const tcp::endpoint endpoint = endpoints_[next_endpoint_++];
  socket_.async_connect(endpoint, [self = shared_from_this(), gen](const error_code& ec) {
    if (self->current(gen)) self->connected(gen, ec);
  });
}

void SocketConnection::connected(std::uint64_t gen, const error_code& ec) {
  if (ec) {
    // The next address may answer where this one did not.
    if (next_endpoint_ < endpoints_.size()) {
      connect_next(gen);
    } else {
      fail(socket_error_number(ec));
    }
    return;
  }
  proxy_reached_ = proxy_ != nullptr;
  if (secure_) {
    if (proxy_ != nullptr) {
      open_tunnel(gen);
    } else if (hold_handshake_) {
      held_ = true;
      watch_held(gen);
    } else {
      start_handshake(gen);
    }
    return;
  }
  go_live(gen);
}

// A held connection has sent nothing, so anything it hears (most likely the
// server's end) means it is of no more use.
void SocketConnection::watch_held(std::uint64_t gen) {
  socket_.async_wait(asio::socket_base::wait_read, [self = shared_from_this(), gen](const error_code& ec) {
    if (!self->current(gen) || !self->held_) return;
    self->fail(ec ? socket_error_number(ec) : sck_err::reset);
  });
}

void SocketConnection::open_tunnel(std::uint64_t gen) {
  error_code ec;
  socket_.non_blocking(true, ec);
  if (ec) {
    fail(socket_error_number(ec));
    return;
  }
  auto request = std::make_shared<std::string>(http::connect_request(host_, server_port_, proxy_->authorization()));
  asio::async_write(socket_, asio::buffer(*request),
                    [self = shared_from_this(), gen, request](const error_code& error, std::size_t) {
                      if (!self->current(gen)) return;
                      if (error) {
                        self->fail(socket_error_number(error));
                        return;
                      }
                      self->take_tunnel_answer(gen);
                    });
}

// Takes the proxy's answer off the socket and nothing after it: bytes past
// the blank line would be the server's, which the secure session must read
// itself. Each round peeks at what is there and takes the head's share.
void SocketConnection::take_tunnel_answer(std::uint64_t gen) {
  std::array<char, 4096> peeked{};
  for (;;) {
    error_code ec;
    const std::size_t count = socket_.receive(asio::buffer(peeked), asio::socket_base::message_peek, ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
      await(gen, tls::Outcome::Kind::want_read, [gen](SocketConnection& self) { self.take_tunnel_answer(gen); });
      return;
    }
    if (ec == asio::error::eof || (!ec && count == 0)) {
      fail(sck_err::reset, "Proxy " + proxy_->label() + " ended the connection before answering the tunnel request");
      return;
    }
    if (ec) {
      fail(socket_error_number(ec));
      return;
    }
    std::string gathered = tunnel_answer_;
    gathered.append(peeked.data(), count);
    const http::TunnelAnswer answer = http::read_tunnel_answer(gathered);
    const bool over = answer.length.has_value() || answer.too_large;
    const std::size_t share = answer.length && !answer.too_large ? *answer.length - tunnel_answer_.size() : count;
    const std::size_t taken = socket_.receive(asio::buffer(peeked.data(), share), 0, ec);
    if (ec || taken != share) {
      fail(ec ? socket_error_number(ec) : sck_err::aborted);
      return;
    }
    tunnel_answer_.append(peeked.data(), taken);
    if (over) {
      tunnel_answered(gen, answer);
      return;
    }
  }
}

void SocketConnection::tunnel_answered(std::uint64_t gen, const http::TunnelAnswer& answer) {
  std::string().swap(tunnel_answer_);
  const std::string who = "Proxy " + proxy_->label();
  const std::string target = http::host_and_port(host_, server_port_);
  if (answer.too_large || !answer.status) {
    fail(proxy_answer_unreadable, who + " gave an unreadable answer to the tunnel request for " + target);
    return;
  }
  if (*answer.status / 100 != 2) {
    const std::string code = std::to_string(*answer.status);
    fail(static_cast<std::int16_t>(*answer.status),
         who + " refused the tunnel to " + target + ": " + code + (answer.reason.empty() ? "" : " " + answer.reason));
    return;
  }
  start_handshake(gen);
}

void SocketConnection::start_handshake(std::uint64_t gen) {
  TlsContext& trust = *settings_.tls;
  tls::Context* context = trust.context();
  error_code ec;
  socket_.non_blocking(true, ec);
  if (context == nullptr || ec) {
    fail(tls_err::channel_error, context == nullptr ? trust.error() : ec.message());
    return;
  }
  // The port is the server's, checked when the connection began.
  tls_ = context->open(static_cast<tls::NativeSocket>(socket_.native_handle()), host_,
                       static_cast<std::uint16_t>(server_port_));
  if (!tls_) {
    fail(tls_err::channel_error, "TLS handshake failed: no session (" + host_ + ")");
    return;
  }
  if (tls_->early_data_limit() == 0) {
    handshake_step(gen);
    return;
  }
  // The server takes early data: the element counts as connected now, so
  // that the request its Connect handler sends (at once or from a tick it
  // posts) rides with the first flight. The handshake starts a loop turn
  // later, after what the handler posted; reads wait for its end.
  early_ = true;
  state_ = sck::connected;
  if (SocketEvents* sink = events()) sink->on_connect(index_);
  if (!current(gen)) return;
  asio::post(io_, [self = shared_from_this(), gen] {
    if (!self->current(gen)) return;
    if (self->pending_writes_.size() <= self->tls_->early_data_limit()) {
      self->early_writes_.swap(self->pending_writes_);
      if (!self->early_writes_.empty()) self->note_sent();
    }
    self->write_early(gen, 0);
  });
}

// Sends `early_writes_` from `offset` on as early data, then completes the
// handshake.
void SocketConnection::write_early(std::uint64_t gen, std::size_t offset) {
  while (offset < early_writes_.size()) {
    const tls::Outcome step = tls_->write_early(reinterpret_cast<const std::uint8_t*>(early_writes_.data()) + offset,
                                                early_writes_.size() - offset);
    if (step.kind == tls::Outcome::Kind::done) {
      offset += step.count;
    } else if (step.kind == tls::Outcome::Kind::want_read || step.kind == tls::Outcome::Kind::want_write) {
      await(gen, step.kind, [gen, offset](SocketConnection& self) { self.write_early(gen, offset); });
      return;
    } else {
      fail_secure(step);
      return;
    }
  }
  handshake_step(gen);
}

void SocketConnection::handshake_step(std::uint64_t gen) {
  const tls::Outcome step = tls_->handshake();
  switch (step.kind) {
    case tls::Outcome::Kind::done:
      go_live(gen);
      return;
    case tls::Outcome::Kind::want_read:
    case tls::Outcome::Kind::want_write:
      await(gen, step.kind, [gen](SocketConnection& self) { self.handshake_step(gen); });
      return;
    default:
      fail_secure(step);
      return;
  }
}

void SocketConnection::fail_secure(const tls::Outcome& step) {
  if (step.system_error != 0) {
    fail(socket_error_from_errno(step.system_error));
  } else {
    fail(step.number, step.description);
  }
}

// The connection is up, secure or not: what waited for it goes out.
void SocketConnection::go_live(std::uint64_t gen) {
  connect_timer_.cancel();
  const bool told = early_;
  if (early_) {
    early_ = false;
    // Refused early data is sent again, ahead of anything queued since.
    if (tls_->early_data_rejected()) pending_writes_.insert(0, early_writes_);
    std::string().swap(early_writes_);
  }
  state_ = sck::connected;
  if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(receive_buffer_size);
  start_read(gen);
  if (!pending_writes_.empty()) {
    note_sent();
    start_write(gen);
  }
  if (told) return;
  if (SocketEvents* sink = events()) sink->on_connect(index_);
}

}  // namespace vintrel::platform
