#include "net/reply_reader.h"

#include <algorithm>
#include <string_view>

#include "message/string_helpers.h"
#include "net/net_errors.h"

namespace tovrel::net {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         message::EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// An optional sign and decimal digits; anything else is 0.
int16_t ReadCode(std::string_view digits) {
  size_t i = 0;
  bool negative = false;
  if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) {
    negative = digits[i] == '-';
    ++i;
  }
  if (i == digits.size()) return 0;
  int value = 0;
  for (; i < digits.size(); ++i) {
    if (digits[i] < '0' || digits[i] > '9') return 0;
    value = value * 10 + (digits[i] - '0');
  }
  return static_cast<int16_t>(negative ? -value : value);
}

}  // namespace

std::string ReplyReader::LastLine() const { return lines_.empty() ? std::string() : lines_.back(); }

int16_t ReplyReader::Read(const NextLine& next_line) {
  lines_.clear();
  lines_.push_back(next_line());
  const std::string& first = lines_.front();
  if (first.size() > 3 && first[3] == '-') {
    const std::string terminator = first.substr(0, 3) + " ";
    size_t bytes = first.size();
    for (;;) {
      if (lines_.size() >= kMaxLines) throw ReplyTooLong();
      lines_.push_back(next_line());
      const std::string& line = lines_.back();
      bytes += line.size();
      if (bytes > kMaxBytes) throw ReplyTooLong();
      if (line.size() < 4 || StartsWithNoCase(line, terminator)) break;
    }
  }
  const std::string_view last = lines_.back();
  if (StartsWithNoCase(last, "+OK")) {
    code_ = 1;
  } else if (StartsWithNoCase(last, "-ERR")) {
    code_ = 0;
  } else {
    code_ = ReadCode(last.substr(0, 3));
  }
  return code_;
}

bool ReplyReader::Accepts(std::span<const int16_t> allowed, int16_t code) {
  return allowed.empty() || std::find(allowed.begin(), allowed.end(), code) != allowed.end();
}

std::string ReplyReader::Shown(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text.push_back(' ');
    for (const char c : line) {
      const auto byte = static_cast<unsigned char>(c);
      text.push_back(byte < 32 || byte == 127 ? '?' : c);
    }
    if (text.size() > kMaxShownLength) break;
  }
  if (text.size() <= kMaxShownLength) return text;
  constexpr std::string_view kCut = "...";
  size_t end = kMaxShownLength - kCut.size();
  // Back to the first byte of a UTF-8 sequence, so that no character is cut in half.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text.append(kCut);
}

}  // namespace tovrel::net
