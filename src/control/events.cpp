#include "control/events.hpp"

#include "control/type_library.hpp"

namespace vintrel::control {

HRESULT EventHub::Advise(std::shared_ptr<EventSink> sink, std::uint32_t& cookie) {
  if (!sink) return hr::E_POINTER;
  cookie = next_cookie_++;
  // Cookie 0 means "no connection" to callers; never hand it out.
  if (next_cookie_ == 0) next_cookie_ = 1;
  sinks_.push_back(Connection{cookie, std::move(sink)});
  return hr::S_OK;
}

HRESULT EventHub::Unadvise(std::uint32_t cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
    if (it->cookie == cookie) {
      sinks_.erase(it);
      return hr::S_OK;
    }
  return hr::CONNECT_E_NOCONNECTION;
}

bool EventHub::connected(std::uint32_t cookie) const {
  for (const auto& c : sinks_)
    if (c.cookie == cookie) return true;
  return false;
}

template <class F>
void EventHub::deliver(std::string_view event, F&& to_listener) {
  try {
    to_listener();
  } catch (const automation::AutomationError& error) {
    if (on_error_) on_error_(event, error);
  }
}

void EventHub::fire(std::string_view name, const std::vector<automation::Variant>& args) {
  const typelib::Event& event = typelib::event(name);
  // A listener may connect or disconnect listeners, itself included, while
  // it runs: go through the connections as they were when the event began,
  // holding each sink, and skip those disconnected meanwhile.
  const std::vector<Connection> listeners = sinks_;
  for (const auto& c : listeners) {
    if (!connected(c.cookie)) continue;
    // Each sink gets its own copy: one sink must not see another's changes.
    std::vector<automation::Variant> copy = args;
    deliver(event.name, [&] { c.sink->Invoke(event.id, event.name, copy); });
  }
}

void EventHub::OnStatusChange(const std::string& Text) {
  if (host_) deliver("OnStatusChange", [&] { host_->OnStatusChange(Text); });
  fire("OnStatusChange", {automation::Variant(Text)});
}

void EventHub::OnFileComplete(const std::string& Text) {
  if (host_) deliver("OnFileComplete", [&] { host_->OnFileComplete(Text); });
  fire("OnFileComplete", {automation::Variant(Text)});
}

void EventHub::OnTransferComplete() {
  if (host_) deliver("OnTransferComplete", [&] { host_->OnTransferComplete(); });
  fire("OnTransferComplete", {});
}

}  // namespace vintrel::control
