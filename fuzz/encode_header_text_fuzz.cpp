// Any header text encoded for the header: every encoded word is at most 75 characters, the result
// is printable ASCII with blanks (encoded words apart only by CR LF TAB), and decoding it as a
// reader does gives the text back.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "message/header_generation.h"
#include "message/utf8_text.h"

namespace tovrel::fuzz {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=') {
      if (i + 2 < text.size()) return std::nullopt;
      continue;
    }
    const std::size_t value = kAlphabet.find(text[i]);
    if (value == std::string_view::npos) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return bytes;
}

std::optional<std::string> DecodeQ(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      bytes += ' ';
    } else if (text[i] == '=') {
      if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0) {
        return std::nullopt;
      }
      bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

// The bytes of one encoded word, or nothing when `token` is not one.
std::optional<std::string> DecodeWord(std::string_view token, std::string_view charset) {
  if (!token.starts_with("=?") || !token.ends_with("?=") || token.size() < 8) return std::nullopt;
  const std::string_view inner = token.substr(2, token.size() - 4);
  const std::size_t q1 = inner.find('?');
  if (q1 == std::string_view::npos || inner.substr(0, q1) != charset) return std::nullopt;
  if (q1 + 2 >= inner.size() || inner[q1 + 2] != '?') return std::nullopt;
  const std::string_view encoded = inner.substr(q1 + 3);
  if (encoded.find('?') != std::string_view::npos) return std::nullopt;
  const char letter = inner[q1 + 1];
  if (letter == 'B' || letter == 'b') return DecodeBase64(encoded);
  if (letter == 'Q' || letter == 'q') return DecodeQ(encoded);
  return std::nullopt;
}

// Unfolds, then decodes each encoded word; blanks between two encoded words are dropped.
std::string Decode(std::string_view header, std::string_view charset) {
  std::string unfolded;
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (header.substr(i, 2) == "\r\n") {
      ++i;
    } else {
      unfolded += header[i];
    }
  }
  std::string text;
  std::string pending_blanks;
  bool after_word = false;
  std::size_t i = 0;
  while (i < unfolded.size()) {
    if (unfolded[i] == ' ' || unfolded[i] == '\t') {
      pending_blanks += unfolded[i++];
      continue;
    }
    const std::size_t end = unfolded.find_first_of(" \t", i);
    const std::string_view token = std::string_view(unfolded).substr(
        i, end == std::string::npos ? std::string::npos : end - i);
    i += token.size();
    if (auto bytes = DecodeWord(token, charset)) {
      if (!after_word) text += pending_blanks;
      text += *bytes;
      after_word = true;
    } else {
      text += pending_blanks;
      text += token;
      after_word = false;
    }
    pending_blanks.clear();
  }
  return text + pending_blanks;
}

int TestOne(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the letter; the text picks the charset a reader can decode it in.
  const char letter = (data[0] & 1) != 0 ? 'B' : 'Q';
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view charset = message::IsValidUtf8(text) ? "UTF-8" : "ISO-8859-1";
  const std::string encoded = message::EncodeHeaderText(text, "", letter, message::tx8Bit, charset);

  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const auto c = static_cast<unsigned char>(encoded[i]);
    if (c == '\r') {
      Require(encoded.substr(i, 3) == "\r\n\t", "a line break that is no fold");
      i += 2;
      continue;
    }
    Require(c == ' ' || c == '\t' || (c > 32 && c < 127), "a byte a header cannot hold");
  }
  // A word that was not encoded never starts like an encoded one: it would have been encoded.
  std::size_t token_start = 0;
  while (token_start < encoded.size()) {
    std::size_t token_end = encoded.find_first_of(" \t\r\n", token_start);
    if (token_end == std::string::npos) token_end = encoded.size();
    if (encoded.substr(token_start, 2) == "=?") {
      Require(token_end - token_start <= 75, "an encoded word longer than 75 characters");
    }
    token_start = token_end + 1;
  }
  Require(Decode(encoded, charset) == text, "the text does not decode back");
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
