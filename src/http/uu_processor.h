#pragma once

// UUProcessor: despite its name, the base64 line writer of the HTTP client (Basic credentials).

#include <string>
#include <string_view>

namespace tovrel::http {

// Base64 (RFC 2045 alphabet, "=" padding) in lines: each line encodes 45 input bytes and ends
// with CR LF, and the last line's CR LF is left off, so up to 45 bytes give one bare line.
class UUProcessor {
 public:
  static constexpr std::size_t kBytesPerLine = 45;

  static std::string EncodeMime(std::string_view input);
};

}  // namespace tovrel::http
