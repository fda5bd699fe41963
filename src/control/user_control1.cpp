#include "control/user_control1.hpp"

#include <algorithm>
#include <exception>
#include <utility>

namespace vintrel::control {

// Routes the events of one socket array to the control's handlers.
class UserControl1::SocketSink final : public platform::SocketEvents {
 public:
  enum class Array { Winsock1, pingWs };
  SocketSink(UserControl1& control, Array array) : control_(control), array_(array) {}

  void on_connect(std::int16_t index) override {
    // Transfer connections are found by polling State on the tick; an eager
    // control only brings that tick forward.
    if (array_ == Array::pingWs)
      guarded(index, [&] { control_.pingWs_Connect(index); });
    else
      guarded(index, [&] { control_.transfer_event_done(index); });
  }
  void on_data_arrival(std::int16_t index, std::int32_t bytes_total) override {
    guarded(index, [&] {
      if (array_ == Array::pingWs)
        control_.pingWs_DataArrival(index, bytes_total);
      else
        control_.Winsock1_DataArrival(index, bytes_total);
    });
    if (array_ == Array::Winsock1) guarded(index, [&] { control_.transfer_event_done(index); });
  }
  void on_error(std::int16_t index, platform::SocketError& error) override {
    guarded(index, [&] {
      if (array_ == Array::pingWs)
        control_.pingWs_Error(index, error);
      else
        control_.Winsock1_Error(index, error);
    });
  }
  void on_close(std::int16_t index) override {
    guarded(index, [&] {
      if (array_ == Array::pingWs)
        control_.pingWs_Close(index);
      else
        control_.Winsock1_Close(index);
    });
    if (array_ == Array::Winsock1) guarded(index, [&] { control_.transfer_event_done(index); });
  }

 private:
  // A transfer socket's failing step stops its own file; a probe's stops
  // the file being probed, the current one.
  template <class F>
  void guarded(std::int16_t index, F&& handler) {
    control_.guarded(array_ == Array::Winsock1 ? index : control_.CurFile, std::forward<F>(handler));
  }

  UserControl1& control_;
  Array array_;
};

UserControl1::UserControl1(platform::Platform& platform, platform::Container* container)
    : Winsock1(platform.make_socket_array()),
      pingWs(platform.make_socket_array()),
      Timer1(platform.make_timer()),
      rateTimer(platform.make_timer()),
      platform_(platform),
      container_(container),
      winsockSink_(std::make_unique<SocketSink>(*this, SocketSink::Array::Winsock1)),
      pingSink_(std::make_unique<SocketSink>(*this, SocketSink::Array::pingWs)) {
  Winsock1->set_events(winsockSink_.get());
  pingWs->set_events(pingSink_.get());
  Timer1->on_tick([this] { guarded(CurFile, [this] { Timer1_Timer(); }); });
  Timer1->set_interval(1000);
  Timer1->set_enabled(true);
  rateTimer->on_tick([this] { rateTimer_Timer(); });
}

void UserControl1::stepFailed(std::int16_t n, std::int64_t number, const std::string& description) noexcept {
  try {
    if (n >= 1 && n <= DownloadFiles->Count() && SlotArray<FileSlot>::contains(n)) {
      const std::shared_ptr<DownloadFile> record = DownloadFiles->ItemPtr(n);
      stopFile(n, *record, number, description);
      return;
    }
  } catch (...) {
    // Stopping failed as well; what remains is telling the page.
  }
  theerrnumber = static_cast<std::int16_t>(std::clamp<std::int64_t>(number, -32768, 32767));
  theerrdesc = description;
}

UserControl1::~UserControl1() {
  // Stop the ticks and detach the sockets before the handlers' state goes.
  Timer1->set_enabled(false);
  Timer1->on_tick(nullptr);
  rateTimer->set_enabled(false);
  rateTimer->on_tick(nullptr);
  Winsock1->set_events(nullptr);
  pingWs->set_events(nullptr);
}

}  // namespace vintrel::control
