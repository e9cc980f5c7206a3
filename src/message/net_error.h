#pragma once

#include <stdexcept>
#include <string>

namespace tovrel::message {

// Root of every failure raised by the message model and the network layers, so that a caller can
// tell "the mail could not be built or delivered" apart from programming errors. It lives here,
// below the transport, because the message model's own failures (a part that cannot be made, a
// file that cannot be read) derive from it too, and this layer may not use the network layer;
// its name is the one callers have caught since the two layers were one.
class NetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tovrel::message
