#pragma once
// The one header that brings in Boost.Asio, for the platform's own sources
// and for layers that serve the network themselves (the web layer). Nothing
// else may include <boost/asio.hpp>: Asio is compiled once, in asio_impl.cpp.

// Boost 1.74's Asio uses std::exchange without including <utility>, which
// C++20 standard libraries no longer pull in for it.
#include <utility>

#include <boost/asio.hpp>

namespace vintrel::platform {

class EventLoop;

/// The Asio context that runs `loop`, for services that need Asio directly.
boost::asio::io_context& asio_context(EventLoop& loop);

}  // namespace vintrel::platform
