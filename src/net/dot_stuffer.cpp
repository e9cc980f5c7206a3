#include "net/dot_stuffer.h"

namespace tovrel::net {

std::string_view DotStuffer::Stuff(std::string_view text) {
  bool stuffing = false;  // whether stuffed_ holds text[0, copied) already
  size_t copied = 0;
  size_t at = 0;
  while (at < text.size()) {
    if (position_ == Position::kLineStart && text[at] == '.') {
      if (!stuffing) {
        stuffed_.clear();
        stuffing = true;
      }
      stuffed_.append(text.substr(copied, at - copied));
      stuffed_.push_back('.');
      copied = at;
    }
    const size_t line_feed = text.find('\n', at);
    if (line_feed == std::string_view::npos) {
      position_ = text.back() == '\r' ? Position::kAfterCr : Position::kInLine;
      break;
    }
    const bool after_cr =
        line_feed > at ? text[line_feed - 1] == '\r' : position_ == Position::kAfterCr;
    position_ = after_cr ? Position::kLineStart : Position::kInLine;
    at = line_feed + 1;
  }
  if (!stuffing) return text;
  stuffed_.append(text.substr(copied));
  return stuffed_;
}

}  // namespace tovrel::net
