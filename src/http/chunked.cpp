#include "http/chunked.hpp"

namespace vintrel::http {

namespace {
int hex_value(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

void ChunkedDecoder::fail(const char* why) {
  state_ = State::error;
  error_ = why;
}

void ChunkedDecoder::step(std::uint8_t c) {
  switch (state_) {
    case State::size: {
      const int v = hex_value(c);
      if (v >= 0) {
        // One more digit would not fit in 64 bits.
        if (remaining_ >> 60) return fail("chunk size too large");
        remaining_ = remaining_ * 16 + static_cast<std::uint64_t>(v);
        ++size_digits_;
      } else if (size_digits_ == 0) {
        return fail("bad chunk size line");
      } else if (c == ';' || c == ' ' || c == '\t') {
        state_ = State::extension;
      } else if (c == '\r') {
        state_ = State::size_lf;
      } else if (c == '\n') {
        // Some servers end lines with LF alone; accept it.
        state_ = remaining_ == 0 ? State::trailer : State::data;
      } else {
        return fail("bad chunk size line");
      }
      return;
    }
    case State::extension:
      if (c == '\r')
        state_ = State::size_lf;
      else if (c == '\n')
        state_ = remaining_ == 0 ? State::trailer : State::data;
      return;
    case State::size_lf:
      if (c != '\n') return fail("bad chunk size line");
      state_ = remaining_ == 0 ? State::trailer : State::data;
      return;
    case State::data_end:
      if (c == '\r') {
        state_ = State::data_end_lf;
      } else if (c == '\n') {
        state_ = State::size;
        size_digits_ = 0;
      } else {
        fail("chunk longer than its size");
      }
      return;
    case State::data_end_lf:
      if (c != '\n') return fail("chunk longer than its size");
      state_ = State::size;
      size_digits_ = 0;
      return;
    case State::trailer:
      // Start of a trailer line, or the blank line that ends the body.
      if (c == '\r')
        state_ = State::trailer_lf;
      else if (c == '\n')
        state_ = State::done;
      else
        state_ = State::trailer_line;
      return;
    case State::trailer_line:
      if (c == '\n') state_ = State::trailer;
      return;
    case State::trailer_lf:
      if (c != '\n') return fail("bad chunk trailer");
      state_ = State::done;
      return;
    case State::data:
    case State::done:
    case State::error:
      return;
  }
}

}  // namespace vintrel::http
