#include "platform/resolver.hpp"

#include <algorithm>
#include <cctype>
#include <memory>
#include <utility>

#include "platform/asio.hpp"
#include "platform/asio_platform.hpp"
#include "platform/event_loop.hpp"
#include "platform/sockets.hpp"
#include "text/text.hpp"

namespace vintrel::platform {

namespace asio = boost::asio;

namespace {

bool is_ip_literal(const std::string& host) {
  boost::system::error_code ec;
  asio::ip::make_address(host, ec);
  return !ec;
}

}  // namespace

FixedResolver::FixedResolver(std::function<void(std::function<void()>)> post) : post_(std::move(post)) {}

void FixedResolver::add(const std::string& host, std::string address) {
  names_[text::lower_ascii(host)] = std::move(address);
}

void FixedResolver::resolve(const std::string& host, Answer answer) {
  std::int16_t error = 0;
  std::vector<std::string> addresses;
  if (is_ip_literal(host)) {
    addresses.push_back(host);
  } else if (auto it = names_.find(text::lower_ascii(host)); it != names_.end()) {
    addresses.push_back(it->second);
  } else {
    error = sck_err::host_not_found;
  }
  post_([answer = std::move(answer), error, addresses = std::move(addresses)]() mutable {
    answer(error, std::move(addresses));
  });
}

namespace {

std::int16_t resolve_error_number(const boost::system::error_code& ec) {
  namespace e = asio::error;
  if (ec == e::host_not_found_try_again) return sck_err::host_not_found_try_again;
  if (ec == e::no_recovery) return 11003;
  if (ec == e::no_data) return 11004;
  // Anything else that keeps a name from resolving reads as an unknown host.
  return sck_err::host_not_found;
}

class SystemResolver final : public Resolver {
 public:
  explicit SystemResolver(EventLoop& loop) : loop_(loop) {}

  void resolve(const std::string& host, Answer answer) override {
    if (host.empty()) {
      loop_.post([answer = std::move(answer)] { answer(sck_err::host_not_found, {}); });
      return;
    }
    // An address needs no lookup. Asio would still hand it to its resolver
    // thread, which a download from an address alone then starts for
    // nothing; the answer is the text the lookup would have given.
    boost::system::error_code literal_error;
    const asio::ip::address literal = asio::ip::make_address(host, literal_error);
    if (!literal_error) {
      loop_.post([answer = std::move(answer), text = literal.to_string()]() mutable {
        answer(0, std::vector<std::string>{std::move(text)});
      });
      return;
    }
    // One Asio resolver per query, owned by its handler, so an answer can
    // outlive this object (and the array that asked) without dangling.
    auto query = std::make_shared<asio::ip::tcp::resolver>(asio_context(loop_));
    query->async_resolve(host, "0", asio::ip::resolver_base::numeric_service,
                         [query, answer = std::move(answer)](const boost::system::error_code& ec,
                                                             const asio::ip::tcp::resolver::results_type& results) {
                           if (ec) {
                             answer(resolve_error_number(ec), {});
                             return;
                           }
                           std::vector<std::string> addresses;
                           for (const auto& entry : results) {
                             std::string text = entry.endpoint().address().to_string();
                             if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
                               addresses.push_back(std::move(text));
                             }
                           }
                           if (addresses.empty()) {
                             answer(sck_err::host_not_found, {});
                           } else {
                             answer(0, std::move(addresses));
                           }
                         });
  }

 private:
  EventLoop& loop_;
};

}  // namespace

std::unique_ptr<Resolver> make_system_resolver(EventLoop& loop) { return std::make_unique<SystemResolver>(loop); }

}  // namespace vintrel::platform
