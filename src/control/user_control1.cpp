#include "control/user_control1.hpp"

namespace vintrel::control {

namespace {
// An event has no caller to hand an error to: a failing step of a socket or
// timer event is dropped, and the host goes on.
template <class F>
void guarded(F&& handler) {
  try {
    handler();
  } catch (const platform::AutomationError&) {
  }
}
}  // namespace

// Routes the events of one socket array to the control's handlers.
class UserControl1::SocketSink final : public platform::SocketEvents {
 public:
  enum class Array { Winsock1, pingWs };
  SocketSink(UserControl1& control, Array array) : control_(control), array_(array) {}

  void on_connect(std::int16_t index) override {
    // Transfer connections are found by polling State on the tick.
    if (array_ == Array::pingWs) guarded([&] { control_.pingWs_Connect(index); });
  }
  void on_data_arrival(std::int16_t index, std::int32_t bytes_total) override {
    guarded([&] {
      if (array_ == Array::pingWs)
        control_.pingWs_DataArrival(index, bytes_total);
      else
        control_.Winsock1_DataArrival(index, bytes_total);
    });
  }
  void on_error(std::int16_t index, platform::SocketError& error) override {
    guarded([&] {
      if (array_ == Array::pingWs)
        control_.pingWs_Error(index, error);
      else
        control_.Winsock1_Error(index, error);
    });
  }
  void on_close(std::int16_t index) override {
    guarded([&] {
      if (array_ == Array::pingWs)
        control_.pingWs_Close(index);
      else
        control_.Winsock1_Close(index);
    });
  }

 private:
  UserControl1& control_;
  Array array_;
};

UserControl1::UserControl1(platform::Platform& platform, platform::Container* container)
    : Winsock1(platform.make_socket_array()),
      pingWs(platform.make_socket_array()),
      Timer1(platform.make_timer()),
      platform_(platform),
      container_(container),
      winsockSink_(std::make_unique<SocketSink>(*this, SocketSink::Array::Winsock1)),
      pingSink_(std::make_unique<SocketSink>(*this, SocketSink::Array::pingWs)) {
  Winsock1->set_events(winsockSink_.get());
  pingWs->set_events(pingSink_.get());
  Timer1->on_tick([this] { guarded([this] { Timer1_Timer(); }); });
  Timer1->set_interval(1000);
  Timer1->set_enabled(true);
}

UserControl1::~UserControl1() {
  // Stop the ticks and detach the sockets before the handlers' state goes.
  Timer1->set_enabled(false);
  Timer1->on_tick(nullptr);
  Winsock1->set_events(nullptr);
  pingWs->set_events(nullptr);
}

}  // namespace vintrel::control
