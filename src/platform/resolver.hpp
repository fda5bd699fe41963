#pragma once
// Name resolution, injectable so that tests never send a DNS query.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vintrel::platform {

/// Turns a host name into IP addresses (text form).
class Resolver {
 public:
  virtual ~Resolver() = default;
  /// Answer: the addresses, or an empty list and a socket error number
  /// (11001 for an unknown host). The answer always comes later, on the loop.
  using Answer = std::function<void(std::int16_t error, std::vector<std::string> addresses)>;
  virtual void resolve(const std::string& host, Answer answer) = 0;
};

/// A resolver that knows only the names it was given; IP literals resolve to
/// themselves, and every other name is unknown (11001). No query leaves.
class FixedResolver final : public Resolver {
 public:
  /// `post` queues a function on the loop, so answers come later.
  explicit FixedResolver(std::function<void(std::function<void()>)> post);
  /// Makes `host` resolve to `address`.
  void add(const std::string& host, std::string address);
  void resolve(const std::string& host, Answer answer) override;

 private:
  std::function<void(std::function<void()>)> post_;
  std::map<std::string, std::string> names_;
};

}  // namespace vintrel::platform
