#pragma once

// The request the browser makes to the sign-in's loopback listener when the provider sends it
// back (RFC 8252 section 7.3): "GET /?code=...&state=... HTTP/1.1" and its header lines. Anyone
// on the machine, and any web page through the browser, can reach that listener too, so only the
// request line and Host are looked at, and the whole is bounded.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace tovrel::app {

// The request line and header lines together may have this many bytes.
inline constexpr std::size_t kCallbackRequestLimit = 8 * 1024;

struct CallbackRequest {
  enum class Status { kIncomplete, kComplete, kMalformed, kTooLarge };
  Status status = Status::kIncomplete;
  std::string method;
  std::string path;  // the target before "?", as sent
  std::string host;  // the Host field, blanks around it dropped
  // The query's parameters decoded ("+" a blank, "%XX" a byte); of a name given twice, the
  // first value.
  std::map<std::string, std::string> query;
};

// Reads the bytes received so far. Complete once the empty line after the header lines is in,
// within kCallbackRequestLimit bytes (CR LF or LF line ends); TooLarge when that many bytes came
// without it; Malformed for a request line that is not "METHOD TARGET HTTP/x" or a header line
// without a colon. Bytes after the empty line are not looked at.
CallbackRequest ReadCallbackRequest(std::string_view bytes);

}  // namespace tovrel::app
