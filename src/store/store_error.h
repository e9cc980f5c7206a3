#pragma once

#include <stdexcept>

namespace tovrel::store {

// The settings store could not be opened, read or written.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tovrel::store
