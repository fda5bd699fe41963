#pragma once
// The real platform's timer: ticks on the Asio context of the control's loop.

#include <memory>

#include "platform/asio.hpp"
#include "platform/timer.hpp"

namespace vintrel::platform {

/// A disabled timer whose ticks run on `io`. Ticks keep the interval's
/// rhythm, drop what a slow handler missed, and never run once the timer
/// was stopped, changed or destroyed.
std::unique_ptr<Timer> make_asio_timer(boost::asio::io_context& io);

}  // namespace vintrel::platform
