#include "support/fake_platform.hpp"

#include <limits>
#include <stdexcept>

#include "automation/automation.hpp"

namespace vintrel::testing {

namespace sck = platform::sck;

FakeSocketArray::Element& FakeSocketArray::element(std::int32_t index) { return elements_[index]; }

FakeSocketArray::Element& FakeSocketArray::loaded(std::int32_t index) {
  auto it = elements_.find(index);
  if (it == elements_.end() || !it->second.loaded) automation::raise(automation::err::no_element);
  return it->second;
}

const FakeSocketArray::Element& FakeSocketArray::loaded(std::int32_t index) const {
  auto it = elements_.find(index);
  if (it == elements_.end() || !it->second.loaded) automation::raise(automation::err::no_element);
  return it->second;
}

std::int16_t FakeSocketArray::event_index(std::int32_t index) {
  if (index < 0 || index > std::numeric_limits<std::int16_t>::max()) {
    throw std::out_of_range("socket element index out of the event range");
  }
  return static_cast<std::int16_t>(index);
}

void FakeSocketArray::accept(std::int32_t index) {
  loaded(index).state = sck::connected;
  if (auto* sink = events()) sink->on_connect(event_index(index));
}

void FakeSocketArray::deliver(std::int32_t index, std::string_view bytes) {
  Element& el = loaded(index);
  el.inbox.insert(el.inbox.end(), bytes.begin(), bytes.end());
  const auto total = static_cast<std::int32_t>(el.inbox.size());
  if (auto* sink = events()) sink->on_data_arrival(event_index(index), total);
}

void FakeSocketArray::fail(std::int32_t index, std::int16_t number) {
  loaded(index).state = sck::error;
  platform::SocketError error;
  error.Number = number;
  error.Description = platform::socket_error_text(number);
  error.Scode = number;
  if (auto* sink = events()) sink->on_error(event_index(index), error);
}

void FakeSocketArray::peer_close(std::int32_t index) {
  loaded(index).state = sck::closing;
  if (auto* sink = events()) sink->on_close(event_index(index));
}

void FakeSocketArray::Load(std::int32_t index) {
  Element& el = elements_[index];
  if (el.loaded) {
    el.state = sck::closed;
    el.inbox.clear();
    ++el.closes;
  }
  el.loaded = true;
  ++el.loads;
}

bool FakeSocketArray::IsLoaded(std::int32_t index) const {
  auto it = elements_.find(index);
  return it != elements_.end() && it->second.loaded;
}

std::int16_t FakeSocketArray::State(std::int32_t index) const { return loaded(index).state; }

void FakeSocketArray::Close(std::int32_t index) {
  Element& el = loaded(index);
  el.state = sck::closed;
  el.inbox.clear();
  ++el.closes;
}

void FakeSocketArray::Connect(std::int32_t index, const std::string& host, std::int32_t port, bool secure) {
  Element& el = loaded(index);
  el.state = sck::connecting;
  el.host = host;
  el.port = port;
  el.secure = secure;
  ++el.connects;
}

void FakeSocketArray::SendData(std::int32_t index, std::string_view data) { loaded(index).sent.append(data); }

std::span<const std::uint8_t> FakeSocketArray::GetData(std::int32_t index) {
  Element& el = loaded(index);
  taken_.swap(el.inbox);
  el.inbox.clear();
  return taken_;
}

std::int32_t FakeSocketArray::BytesReceived(std::int32_t index) const {
  return static_cast<std::int32_t>(loaded(index).inbox.size());
}

std::unique_ptr<platform::SocketArray> FakePlatform::make_socket_array() {
  auto array = std::make_unique<FakeSocketArray>();
  arrays_.push_back(array.get());
  return array;
}

std::unique_ptr<platform::Timer> FakePlatform::make_timer() {
  auto timer = std::make_unique<platform::ManualTimer>();
  // A control makes two: Timer1, then its pacing timer.
  (timers_made_++ % 2 == 0 ? timer_ : pacing_timer_) = timer.get();
  return timer;
}

bool FakePlatform::wait_until(const std::function<bool()>& done) {
  while (!done()) {
    if (posted_.empty()) return false;
    auto fn = std::move(posted_.front());
    posted_.pop_front();
    fn();
  }
  return true;
}

void FakePlatform::run_posted() {
  while (!posted_.empty()) {
    auto fn = std::move(posted_.front());
    posted_.pop_front();
    fn();
  }
}

FakeSocketArray& FakePlatform::array(int n) {
  if (n < 0 || n >= array_count()) throw std::out_of_range("no socket array made with that number");
  return *arrays_[static_cast<std::size_t>(n)];
}

platform::ManualTimer& FakePlatform::timer() {
  if (timer_ == nullptr) throw std::logic_error("no timer made yet");
  return *timer_;
}

platform::ManualTimer& FakePlatform::pacing_timer() {
  if (pacing_timer_ == nullptr) throw std::logic_error("no pacing timer made yet");
  return *pacing_timer_;
}

}  // namespace vintrel::testing
