#pragma once

#include <stdexcept>
#include <string>

namespace tovrel::app {

// Failures of the application layer itself (conversions, files). The network and message
// layers raise NetError; both end at the default error report with their text.
class AppError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A stored or typed text is not the integer it should be.
class ConversionError : public AppError {
 public:
  using AppError::AppError;
};

// A file named by the user (a body file) could not be read.
class FileError : public AppError {
 public:
  using AppError::AppError;
};

}  // namespace tovrel::app
