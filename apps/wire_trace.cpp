#include "apps/wire_trace.hpp"

#include <map>
#include <utility>

#include "text/text.hpp"

namespace vintrel::apps {

namespace {

constexpr std::string_view head_end = "\r\n\r\n";
// An answer whose head has not ended by then is not shown: the trace must
// not hold a body in memory.
constexpr std::size_t longest_head = std::size_t{64} * 1024;

// What one socket element is connected to, and how much of the answer's
// head has come.
struct Element {
  std::string host;
  std::int32_t port = 0;
  bool secure = false;
  std::string answer;
  bool answer_shown = false;
};

class TracedArray final : public platform::SocketArray, platform::SocketEvents {
 public:
  TracedArray(std::unique_ptr<platform::SocketArray> inner, const platform::Platform& machine, std::ostream& out,
              bool probes)
      : inner_(std::move(inner)), machine_(machine), out_(out), probes_(probes) {
    inner_->set_events(this);
  }

  void Load(std::int32_t index) override { inner_->Load(index); }
  bool IsLoaded(std::int32_t index) const override { return inner_->IsLoaded(index); }
  std::int16_t State(std::int32_t index) const override { return inner_->State(index); }
  void Close(std::int32_t index) override { inner_->Close(index); }
  void Connect(std::int32_t index, const std::string& host, std::int32_t port, bool secure) override {
    elements_[index] = Element{host, port, secure, {}, false};
    inner_->Connect(index, host, port, secure);
  }
  void SendData(std::int32_t index, std::string_view data) override {
    if (const std::string lines = head_lines(data, '>'); !lines.empty())
      out_ << connection(index) << lines << std::flush;
    inner_->SendData(index, data);
  }
  std::span<const std::uint8_t> GetData(std::int32_t index) override {
    const std::span<const std::uint8_t> bytes = inner_->GetData(index);
    Element& element = elements_[index];
    if (!element.answer_shown && !bytes.empty()) {
      element.answer.append(bytes.begin(), bytes.end());
      if (const std::string lines = head_lines(element.answer, '<'); !lines.empty()) {
        out_ << connection(index) << lines << std::flush;
        element.answer_shown = true;
      }
      if (element.answer_shown || element.answer.size() > longest_head) {
        element.answer_shown = true;
        element.answer.clear();
        element.answer.shrink_to_fit();
      }
    }
    return bytes;
  }
  std::int32_t BytesReceived(std::int32_t index) const override { return inner_->BytesReceived(index); }
  std::string tls_summary(std::int32_t index) const override { return inner_->tls_summary(index); }
  void set_read_size(std::int32_t index, std::int32_t bytes) override { inner_->set_read_size(index, bytes); }

 private:
  void on_connect(std::int16_t index) override { events()->on_connect(index); }
  void on_data_arrival(std::int16_t index, std::int32_t bytes_total) override {
    events()->on_data_arrival(index, bytes_total);
  }
  void on_error(std::int16_t index, platform::SocketError& error) override { events()->on_error(index, error); }
  void on_close(std::int16_t index) override { events()->on_close(index); }

  // "* 127.0.0.1 port 8080, TLS, through proxy 127.0.0.1 port 3128, probe"
  std::string connection(std::int32_t index) {
    const Element& element = elements_[index];
    std::string line = "* " + element.host + " port " + std::to_string(element.port);
    if (element.secure) {
      // Known once the handshake is over: always for an answer, and for a
      // request unless it went out as early data.
      const std::string version = inner_->IsLoaded(index) ? inner_->tls_summary(index) : std::string();
      line += ", " + (version.empty() ? std::string("TLS") : version);
    }
    if (const platform::ProxyServer* proxy = machine_.proxy_for(element.host, element.port, element.secure))
      line += ", through proxy " + proxy->host + " port " + std::to_string(proxy->port);
    if (probes_) line += ", probe";
    return line + "\n";
  }

  std::unique_ptr<platform::SocketArray> inner_;
  const platform::Platform& machine_;
  std::ostream& out_;
  bool probes_;
  std::map<std::int32_t, Element> elements_;
};

}  // namespace

std::string head_lines(std::string_view bytes, char mark) {
  const auto end = bytes.find(head_end);
  if (end == std::string_view::npos) return {};
  std::string lines;
  for (std::string_view line : text::split(bytes.substr(0, end), "\r\n")) {
    // The credentials are the proxy's secret; the scheme helps debugging.
    if (const auto colon = line.find(':');
        colon != std::string_view::npos && text::iequals(line.substr(0, colon), "Proxy-Authorization")) {
      const std::string_view value = text::trim(line.substr(colon + 1));
      line = line.substr(0, colon + 1);
      lines.append(1, mark).append(" ").append(line).append(" ");
      lines.append(value.substr(0, value.find(' '))).append(" ****\n");
      continue;
    }
    lines.append(1, mark).append(" ").append(text::show_controls(line)).append("\n");
  }
  return lines.append(1, mark).append("\n");
}

std::unique_ptr<platform::SocketArray> WireTrace::make_socket_array() {
  // A control makes its transfers' array first and its probes' second.
  const bool probes = arrays_made_++ % 2 == 1;
  return std::make_unique<TracedArray>(inner_.make_socket_array(), inner_, out_, probes);
}

}  // namespace vintrel::apps
