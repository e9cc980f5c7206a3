#include "message/utf8_text.h"

#include <cstdint>
#include <cstring>

#include "message/byte_masks.h"

namespace tovrel::message {

Utf8Char DecodeUtf8(std::string_view text) {
  if (text.empty()) return {};
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {1, lead};
  std::size_t length = 0;
  char32_t code = 0;
  char32_t lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, lowest = 0x10000;
  } else {
    return {};
  }
  if (text.size() < length) return {};
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {};
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
  return {length, code};
}

bool IsBidiControl(char32_t code) {
  return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

bool IsValidUtf8(std::string_view text) {
  // Text runs to megabytes (a body file). Long ASCII runs are passed in strides; text in another
  // script, with a blank or a comma between its characters, goes character by character, since a
  // stride started at every lone ASCII byte would cost more than it passes.
  std::size_t at = 0;
  while (at < text.size()) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      std::uint64_t word = 0;
      const bool run =
          text.size() - at >= sizeof word &&
          (std::memcpy(&word, text.data() + at, sizeof word), (word & 0x8080808080808080u) == 0);
      at += run ? AsciiPrefix(text.substr(at)) : 1;
      continue;
    }
    const std::size_t length = DecodeUtf8(text.substr(at)).length;
    if (length == 0) return false;
    at += length;
  }
  return true;
}

void AppendLatin1AsUtf8(std::string_view text, std::string& utf8) {
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
}

}  // namespace tovrel::message
