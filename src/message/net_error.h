#pragma once

#include <stdexcept>
#include <string>

namespace tovrel::message {

// Root of every failure raised by the message model and the network layers, so that a caller can
// tell "the mail could not be built or delivered" apart from programming errors.
class NetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tovrel::message
