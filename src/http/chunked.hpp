#pragma once
// Decoding of a chunked body: a small state machine over bytes, so chunks,
// size lines and their line ends may be split anywhere between arrivals.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

namespace vintrel::http {

/// Decodes "Transfer-Encoding: chunked" framing.
class ChunkedDecoder {
 public:
  enum class Result { need_more, done, error };

  /// Feeds bytes; every decoded piece of data goes to `sink` in order.
  /// Returns done once the last chunk and its trailer are read (bytes after
  /// them are ignored), error on a malformed or oversized size line.
  template <class Sink>
  Result feed(std::span<const std::uint8_t> bytes, Sink&& sink) {
    std::size_t at = 0;
    while (at < bytes.size() && state_ != State::done && state_ != State::error) {
      if (state_ == State::data) {
        const auto take = static_cast<std::size_t>(
            std::min<std::uint64_t>(remaining_, static_cast<std::uint64_t>(bytes.size() - at)));
        sink(bytes.subspan(at, take));
        at += take;
        remaining_ -= take;
        if (remaining_ == 0) state_ = State::data_end;
      } else {
        step(bytes[at++]);
      }
    }
    if (state_ == State::done) return Result::done;
    if (state_ == State::error) return Result::error;
    return Result::need_more;
  }

  /// Why decoding failed, for the user.
  const std::string& error() const { return error_; }
  /// True once the last chunk was read.
  bool finished() const { return state_ == State::done; }

 private:
  enum class State {
    size,
    extension,
    size_lf,
    data,
    data_end,
    data_end_lf,
    trailer,
    trailer_line,
    trailer_lf,
    done,
    error
  };
  void step(std::uint8_t c);
  void fail(const char* why);

  State state_ = State::size;
  std::uint64_t remaining_ = 0;
  int size_digits_ = 0;
  std::string error_;
};

}  // namespace vintrel::http
