#pragma once
// The connection point of __UserControl1: the container the engine raises
// its events on. Every event goes to the host first, then to each connected
// sink in the order they connected, synchronously.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/interfaces/interfaces.hpp"
#include "platform/container.hpp"

namespace vintrel::control {

class EventHub final : public platform::Container, public ConnectionPoint {
 public:
  /// `host` (may be null) embeds the control: it gets every event and
  /// provides the page and the folder dialog.
  explicit EventHub(platform::Container* host = nullptr) : host_(host) {}
  EventHub(const EventHub&) = delete;
  EventHub& operator=(const EventHub&) = delete;

  HRESULT Advise(std::shared_ptr<EventSink> sink, std::uint32_t& cookie) override;
  HRESULT Unadvise(std::uint32_t cookie) override;
  /// Number of sinks connected.
  std::size_t sink_count() const { return sinks_.size(); }

  /// A listener's error has no caller to go to: the engine must go on and the
  /// other listeners still hear the event. It is handed here when set.
  using ErrorHandler = std::function<void(std::string_view event, const automation::AutomationError& error)>;
  void on_listener_error(ErrorHandler handler) { on_error_ = std::move(handler); }

  void OnStatusChange(const std::string& Text) override;
  void OnFileComplete(const std::string& Text) override;
  void OnTransferComplete() override;
  platform::PageObject* page() override { return host_ ? host_->page() : nullptr; }
  platform::FolderDialog* folder_dialog() override { return host_ ? host_->folder_dialog() : nullptr; }

 private:
  struct Connection {
    std::uint32_t cookie;
    std::shared_ptr<EventSink> sink;
  };
  template <class F>
  void deliver(std::string_view event, F&& to_listener);
  void fire(std::string_view name, const std::vector<automation::Variant>& args);
  bool connected(std::uint32_t cookie) const;

  platform::Container* host_;
  std::vector<Connection> sinks_;
  std::uint32_t next_cookie_ = 1;
  ErrorHandler on_error_;
};

}  // namespace vintrel::control
