#pragma once

// The reply of a line-oriented protocol server and the rules that read it: one line, or several
// when the first has "-" after its three-digit code, up to the line that repeats the code with a
// blank; the code comes from the last line ("+OK" counts as 1, "-ERR" as 0). Holds the lines and
// the code of the most recent reply.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace tovrel::net {

class ReplyReader {
 public:
  // One reply holds at most this many lines and bytes (an EHLO reply has a few dozen lines);
  // past either the read ends with ReplyTooLong, so that no server can make the reply grow
  // without end.
  static constexpr size_t kMaxLines = 1000;
  static constexpr size_t kMaxBytes = 1024 * 1024;

  // Supplies the next line of the reply that is not blank, trimmed.
  using NextLine = std::function<std::string()>;

  const std::vector<std::string>& lines() const { return lines_; }
  // Empty when no line was read.
  std::string LastLine() const;
  int16_t code() const { return code_; }

  // Reads one reply and returns its code. The lines are kept as they come, so a failure of
  // `next_line` leaves those read so far. Raises ReplyTooLong past the limits above.
  int16_t Read(const NextLine& next_line);

  // An empty set accepts every code.
  static bool Accepts(std::span<const int16_t> allowed, int16_t code);

  // The whole reply as one line for the user: every line, joined with blanks, each control
  // character shown as "?", and no more than kMaxShownLength bytes (cut at a character and
  // marked with "..."). Servers put the reason in the first lines of a multi-line refusal.
  static constexpr size_t kMaxShownLength = 2000;
  static std::string Shown(const std::vector<std::string>& lines);

 private:
  std::vector<std::string> lines_;
  int16_t code_ = 0;
};

}  // namespace tovrel::net
