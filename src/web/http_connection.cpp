#include "web/http_connection.hpp"

#include <boost/beast/websocket.hpp>

#include <chrono>
#include <cstdint>
#include <utility>

#include "web/assets.hpp"
#include "web/listener.hpp"
#include "web/websocket_connection.hpp"

namespace vintrel::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

constexpr auto http_timeout = std::chrono::seconds(30);
// Requests are small; a page sends nothing but its request line and headers.
constexpr std::uint64_t max_request_body = std::uint64_t{16} * 1024;

std::string describe(const tcp::endpoint& endpoint) {
  return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

std::optional<std::string_view> header(const http::request<http::string_body>& request, http::field field) {
  const auto found = request.find(field);
  if (found == request.end()) return std::nullopt;
  return std::string_view(found->value().data(), found->value().size());
}

}  // namespace

HttpConnection::HttpConnection(std::shared_ptr<Server::Impl> server, tcp::socket socket)
    : server_(std::move(server)), stream_(std::move(socket)) {
  beast::error_code ignored;
  peer_ = describe(stream_.socket().remote_endpoint(ignored));
}

void HttpConnection::read() {
  parser_.emplace();
  parser_->body_limit(max_request_body);
  stream_.expires_after(http_timeout);
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code error, std::size_t) { self->arrived(error); });
}

void HttpConnection::arrived(beast::error_code error) {
  if (error) return;  // closed, timed out or malformed: nothing to answer
  auto request = parser_->release();
  const bool upgrading = websocket::is_upgrade(request);
  // One gate for everything the server takes, upgrades included.
  const std::string_view target(request.target().data(), request.target().size());
  admitted_ = server_->gate.admit(
      Knock{header(request, http::field::host), header(request, http::field::origin), target, upgrading});
  if (!admitted_.allowed) {
    server_->log(std::string(upgrading ? "refused a WebSocket connection from " : "refused a request from ") + peer_ +
                 ": " + admitted_.reason);
    return answer(request, http::status::forbidden, "text/plain; charset=utf-8", "Refused: " + admitted_.reason + "\n",
                  false);
  }
  if (upgrading) return upgrade(request);
  respond(request);
}

void HttpConnection::upgrade(const Request& request) {
  const std::string_view target(request.target().data(), request.target().size());
  if (target.substr(0, target.find('?')) != "/control") {
    server_->log("refused a WebSocket connection from " + peer_ + ": no such endpoint");
    return answer(request, http::status::forbidden, "text/plain; charset=utf-8", "Refused: no such endpoint\n", false);
  }
  const Verdict& verdict = admitted_;
  // A page coming back for its control takes no more room than it had.
  std::string session = query_parameter(target, "session").value_or("");
  const auto admission = server_->manager.admit(session, verdict.origin);
  const bool resuming = admission.resuming;
  if (!resuming) session = make_token();
  // Past the gate the page is entitled to an answer it can read: when its
  // origin has no room, the handshake succeeds and the close frame says why.
  std::optional<websocket::close_reason> refusal;
  if (!admission.room) {
    const std::size_t cap = server_->options.max_per_origin;
    server_->log("refused a WebSocket connection from " + peer_ + ": too many connections from origin " +
                 verdict.origin + " (" + std::to_string(cap) + ", none idle)");
    refusal.emplace(static_cast<websocket::close_code>(close_code::too_many), too_many_reason(cap));
  }
  const std::uint64_t id = server_->manager.next_id();
  stream_.expires_never();
  auto connection = std::make_shared<WebSocketConnection>(
      server_, std::move(stream_), id, Peer{peer_, verdict.origin, session}, std::move(refusal), resuming);
  server_->manager.add(connection);
  connection->start(request);
}

void HttpConnection::respond(const Request& request) {
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

void HttpConnection::answer(const Request& request, http::status status, std::string_view type, std::string body,
                            bool keep) {
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

}  // namespace vintrel::web
