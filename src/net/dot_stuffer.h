#pragma once

// The SMTP transparency rule applied on the way out: a line of the message text that begins with
// "." gets a second "." in front, so that no line of the text can pass for the end of the data.
// The stuffer sees the text in whatever pieces it is written and remembers whether the next
// byte begins a line (a line begins after CR LF), so a line that an encoder broke in two is
// stuffed like a whole one.

#include <cstddef>
#include <string>
#include <string_view>

namespace tovrel::net {

class DotStuffer {
 public:
  // `text` as it must go out: the same view when no line in it begins with ".", else a stuffed
  // copy that stays valid until the next call.
  std::string_view Stuff(std::string_view text);
  // The caller wrote CR LF itself.
  void EndLine() { position_ = Position::kLineStart; }
  // Whether the next byte begins a line.
  bool at_line_start() const { return position_ == Position::kLineStart; }

 private:
  enum class Position { kLineStart, kInLine, kAfterCr };

  // Whether text[at] would be the first byte of a line.
  bool BeginsLine(std::string_view text, size_t at) const;

  Position position_ = Position::kLineStart;
  std::string stuffed_;
};

}  // namespace tovrel::net
