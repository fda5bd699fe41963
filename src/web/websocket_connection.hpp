#pragma once
// One WebSocket connection of `vintrel serve` and the channel (control) it
// drives: text frames in to the channel, the channel's frames out in order,
// and the close codes that tell a page why its connection ended.

// asio.hpp first: it works around a missing include of Boost 1.74's Asio.
#include "platform/asio.hpp"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "web/connection_manager.hpp"
#include "web/server.hpp"

namespace vintrel::web {

/// A connection past its handshake request; the server's manager holds it
/// weakly, its own pending operations hold it alive.
class WebSocketConnection final : public PageConnection, public std::enable_shared_from_this<WebSocketConnection> {
 public:
  /// A connection that gets a control once its handshake is done; with a
  /// `refusal`, one that is closed with it right after the handshake, so
  /// the page learns why (a refused handshake says nothing a page can read).
  WebSocketConnection(std::shared_ptr<Server::Impl> server, boost::beast::tcp_stream stream, std::uint64_t id,
                      Peer peer, std::optional<boost::beast::websocket::close_reason> refusal = std::nullopt,
                      bool resuming = false);

  /// Its number, in order of arrival.
  std::uint64_t id() const override { return id_; }
  /// The page at the far end.
  const Peer& peer() const override { return peer_; }
  /// Counts toward its origin's cap: neither refused nor given up.
  bool counted() const override { return !refusal_ && !ended_ && !given_up_ && !surrendered_; }
  /// Nothing under way: the page is not waiting on a request and the
  /// control downloads nothing. A handshake in progress is not idle; it
  /// lasts as long as one write.
  bool idle() const override { return open_ && !closing_ && receiving_ == 0 && (!channel_ || channel_->idle()); }

  /// Closes the connection with the "replaced" code and reason, and ends its
  /// control now, so the newer connection has its place at once.
  void give_up() override;
  /// Another page of the origin took this one's control: the connection
  /// closes, the control goes on for that page.
  void surrender() override;
  /// Answers the upgrade `request` and goes on from there.
  void start(const boost::beast::http::request<boost::beast::http::string_body>& request);
  /// Ends the connection and its control now; used when the server goes.
  void shut() override;

 private:
  void accepted(boost::beast::error_code error);
  void read();
  void arrived(boost::beast::error_code error);
  void send(std::string message);
  void write();
  void written(boost::beast::error_code error);
  void close_after_queue(boost::beast::websocket::close_reason reason = boost::beast::websocket::close_code::normal);
  void close_now();
  void end(const std::string& why);

  std::shared_ptr<Server::Impl> server_;
  boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
  std::uint64_t id_;
  Peer peer_;
  std::shared_ptr<Channel> channel_;
  boost::beast::flat_buffer in_;
  std::deque<std::string> out_;
  std::size_t queued_bytes_ = 0;
  bool open_ = false;
  bool writing_ = false;
  bool closing_ = false;
  bool ended_ = false;
  bool given_up_ = false;
  bool surrendered_ = false;
  int receiving_ = 0;
  std::optional<boost::beast::websocket::close_reason> refusal_;
  bool resuming_ = false;
  boost::beast::websocket::close_reason close_reason_;
};

}  // namespace vintrel::web
