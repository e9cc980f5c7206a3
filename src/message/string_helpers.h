#pragma once

// Small text helpers shared by every layer: filling texts with placeholders, token cutting, line
// ends, substring search that respects double-byte characters, and ASCII case and blanks.

#include <initializer_list>
#include <string>
#include <string_view>

namespace tovrel::message {

// `pattern` with its "%s" placeholders replaced by `arguments`, left to right; placeholders
// beyond the arguments are left out. Every layer's texts with placeholders are filled here.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> arguments);

// The line ends of a text, one after another: the next CR or LF at or after a position. Each byte
// is looked at once for each of the two, however short the lines are, so that long texts are
// split into lines at the speed of memchr().
class LineEndFinder {
 public:
  explicit LineEndFinder(std::string_view text);
  // The position of the first CR or LF at or after `from`; npos when there is none. `from` does
  // not go back from one call to the next.
  std::size_t From(std::size_t from);

 private:
  std::size_t Find(char c, std::size_t from) const;

  std::string_view text_;
  std::size_t next_cr_;
  std::size_t next_lf_;
};

// Returns the part of `text` before the first `delimiter`. With `remove`, `text` loses everything
// up to and including that delimiter. Without a delimiter in `text` the whole text is returned
// (and `text` becomes empty when `remove` is set).
std::string CutToken(std::string& text, std::string_view delimiter, bool remove = true);

// 1-based position of the first `sub` in `text`, 0 when absent or when `sub` is empty. Under a
// double-byte code set (ApplyCodeSet) a match starting on a trail byte does not count.
std::size_t FindSubstring(std::string_view sub, std::string_view text);

// ASCII-only helpers used across the layer.
char AsciiUpper(char c);
std::string AsciiUpper(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Removes leading/trailing bytes of code 0..32 (spaces and control characters).
std::string_view TrimControl(std::string_view text);
std::string_view TrimLeftControl(std::string_view text);
std::string_view TrimRightControl(std::string_view text);

}  // namespace tovrel::message
