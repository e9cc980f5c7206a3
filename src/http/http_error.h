#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tovrel::http {

// Root of the update-check client's failures. The client stands apart from the mail transport
// and shares none of its code, so it has its own root; it is still a std::runtime_error carrying
// the text the user sees.
class HttpError : public std::runtime_error {
 public:
  explicit HttpError(std::string_view text) : std::runtime_error(std::string(text)) {}
};

// Name resolution, connection and socket failures.
class SockError : public HttpError {
 public:
  using HttpError::HttpError;
};

// The server was not reached: its name gave no address, or no address took the connection.
class UnreachableError : public SockError {
 public:
  using SockError::SockError;
};

// A transfer stopped by a cancel, an abort or the time-out.
class AbortError : public HttpError {
 public:
  using HttpError::HttpError;
};

}  // namespace tovrel::http
