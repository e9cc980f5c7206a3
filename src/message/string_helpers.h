#pragma once

// Small text helpers shared by every layer: filling texts with placeholders, token cutting, line
// ends, substring search that respects double-byte characters, and ASCII case and blanks.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tovrel::message {

// `pattern` with its "%s" placeholders replaced by `arguments`, left to right; placeholders
// beyond the arguments are left out. Every layer's texts with placeholders are filled here.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> arguments);

// The line ends of a text, one after another: the next CR or LF at or after a position. The text
// is looked at 64 bytes at a time, each block once however short its lines are, so that
// long texts of short lines are split without a search per line.
class LineEndFinder {
 public:
  explicit LineEndFinder(std::string_view text) : text_(text) {}
  // The position of the first CR or LF at or after `from`; npos when there is none. `from` does
  // not go back from one call to the next.
  std::size_t From(std::size_t from);

 private:
  void Load(std::size_t block);

  std::string_view text_;
  // The block whose line ends `ends_` holds, as bits; none loaded yet while it is npos.
  std::size_t block_ = std::string_view::npos;
  std::uint64_t ends_ = 0;
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
