#include "http/url_encoder.h"

#include <exception>

#include "http/texts.h"

namespace tovrel::http {

std::string UrlEncoder::EncodeInput(std::string_view input) const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  try {
    std::string out;
    out.reserve(input.size() * 3);
    for (const char c : input) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte == ' ') {
        out += '+';
      } else if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                 (byte >= '0' && byte <= '9')) {
        out += c;
      } else {
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
      }
    }
    return out;
  } catch (const std::exception& e) {
    if (on_error_) on_error_(std::string(texts::kEncodeError), e.what());
    return std::string(input);
  }
}

}  // namespace tovrel::http
