// Asio's compiled part, built once for the whole program (the platform target
// defines BOOST_ASIO_SEPARATE_COMPILATION for every includer).
#include "platform/asio.hpp"

#include <boost/asio/impl/src.hpp>
