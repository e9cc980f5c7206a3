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

// A mail link on the command line that would change an address if it were taken as it stands.
class LinkError : public AppError {
 public:
  using AppError::AppError;
};

// The stored account or the fields lack what every send needs (a server, a sender address).
class SendSetupError : public AppError {
 public:
  using AppError::AppError;
};

}  // namespace tovrel::app
