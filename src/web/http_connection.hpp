#pragma once
// One plain HTTP connection of `vintrel serve`: the embedded pages for
// requests, and a WebSocket connection for an upgrade that passes the gate.

// asio.hpp first: it works around a missing include of Boost 1.74's Asio.
#include "platform/asio.hpp"

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "web/security.hpp"
#include "web/server.hpp"

namespace vintrel::web {

/// An accepted connection, alive while one of its operations is pending.
class HttpConnection final : public std::enable_shared_from_this<HttpConnection> {
 public:
  /// A connection `server` accepted; nothing is read before read().
  HttpConnection(std::shared_ptr<Server::Impl> server, boost::asio::ip::tcp::socket socket);

  /// Reads the next request, within the time limit.
  void read();

 private:
  using Request = boost::beast::http::request<boost::beast::http::string_body>;

  void arrived(boost::beast::error_code error);
  void upgrade(const Request& request);
  void respond(const Request& request);
  void answer(const Request& request, boost::beast::http::status status, std::string_view type, std::string body,
              bool keep);

  std::shared_ptr<Server::Impl> server_;
  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  std::string peer_;
  Verdict admitted_;  // the gate's word on the request in hand
};

}  // namespace vintrel::web
