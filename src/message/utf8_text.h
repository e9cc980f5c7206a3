#pragma once

// Reading and making UTF-8: the text of the window, of body files and of the wire is UTF-8.

#include <cstddef>
#include <string>
#include <string_view>

namespace tovrel::message {

// The UTF-8 character at the start of `text`: its length in bytes and its code point, or a
// length of 0 when the bytes there are not well-formed UTF-8 (overlong forms, surrogates and
// code points past U+10FFFF are not).
struct Utf8Char {
  std::size_t length = 0;
  char32_t code = 0;
};
Utf8Char DecodeUtf8(std::string_view text);
// Whether all of `text` is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);
// Whether `code` is one of the characters that change the direction of the text after them
// (the embeddings, overrides and isolates, and the marks): shown, they reorder what follows, so
// that an address or a file name reads as another.
bool IsBidiControl(char32_t code);
// Appends the bytes of ISO-8859-1 text to `utf8` as UTF-8.
void AppendLatin1AsUtf8(std::string_view text, std::string& utf8);

}  // namespace tovrel::message
