// The hostile server's scripts as tests write them, and the responses they
// send: plain text in, the steps a connection runs out.

#include "support/hostile_server.hpp"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace vintrel::testing {

// --- steps and scripts -------------------------------------------------------

Step Step::send(std::string bytes, std::size_t piece_size, std::chrono::milliseconds piece_delay) {
  Step step;
  step.kind = Kind::send;
  step.bytes = std::move(bytes);
  step.piece_size = piece_size;
  step.duration = piece_delay;
  return step;
}

Step Step::delay(std::chrono::milliseconds duration) {
  Step step;
  step.kind = Kind::delay;
  step.duration = duration;
  return step;
}

Step Step::wait_request() {
  Step step;
  step.kind = Kind::wait_request;
  return step;
}

Step Step::close() {
  Step step;
  step.kind = Kind::close;
  return step;
}

Step Step::close_without_notify() {
  Step step;
  step.kind = Kind::close_without_notify;
  return step;
}

Step Step::reset() {
  Step step;
  step.kind = Kind::reset;
  return step;
}

Step Step::stall() {
  Step step;
  step.kind = Kind::stall;
  return step;
}

Script& Script::send(std::string bytes, std::size_t piece_size, std::chrono::milliseconds piece_delay) {
  return then(Step::send(std::move(bytes), piece_size, piece_delay));
}
Script& Script::delay(std::chrono::milliseconds duration) { return then(Step::delay(duration)); }
Script& Script::wait_request() { return then(Step::wait_request()); }
Script& Script::close() { return then(Step::close()); }
Script& Script::close_without_notify() { return then(Step::close_without_notify()); }
Script& Script::reset() { return then(Step::reset()); }
Script& Script::stall() { return then(Step::stall()); }

Script& Script::then(Step step) {
  steps_.push_back(std::move(step));
  return *this;
}

Script& Script::unprompted() {
  unprompted_ = true;
  return *this;
}

Script& Script::break_handshake(HandshakeBreak where) {
  handshake_break_ = where;
  return *this;
}

// --- responses ---------------------------------------------------------------

std::string http_response(int status, std::string_view reason, std::vector<std::pair<std::string, std::string>> headers,
                          std::string_view body) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) + "\r\n";
  for (const auto& [name, value] : headers) out += name + ": " + value + "\r\n";
  out += "\r\n";
  out += body;
  return out;
}

std::string chunked(std::string_view body, std::size_t chunk_size) {
  if (chunk_size == 0) chunk_size = std::max<std::size_t>(body.size(), 1);
  std::string out;
  while (!body.empty()) {
    std::size_t now = std::min(chunk_size, body.size());
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", now);
    out += size;
    out += body.substr(0, now);
    out += "\r\n";
    body.remove_prefix(now);
  }
  out += "0\r\n\r\n";
  return out;
}

}  // namespace vintrel::testing
