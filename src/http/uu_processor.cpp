#include "http/uu_processor.h"

namespace tovrel::http {

std::string UUProcessor::EncodeMime(std::string_view input) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((input.size() + 2) / 3 * 4 + input.size() / kBytesPerLine * 2);
  for (std::size_t line = 0; line < input.size(); line += kBytesPerLine) {
    if (line > 0) out += "\r\n";
    const std::string_view chunk = input.substr(line, kBytesPerLine);
    for (std::size_t i = 0; i < chunk.size(); i += 3) {
      const std::size_t left = chunk.size() - i;
      const unsigned b0 = static_cast<unsigned char>(chunk[i]);
      const unsigned b1 = left > 1 ? static_cast<unsigned char>(chunk[i + 1]) : 0;
      const unsigned b2 = left > 2 ? static_cast<unsigned char>(chunk[i + 2]) : 0;
      const unsigned group = (b0 << 16) | (b1 << 8) | b2;
      out += kAlphabet[(group >> 18) & 63];
      out += kAlphabet[(group >> 12) & 63];
      out += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
      out += left > 2 ? kAlphabet[group & 63] : '=';
    }
  }
  return out;
}

}  // namespace tovrel::http
