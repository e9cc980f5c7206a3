#include "net/dot_stuffer.h"

namespace tovrel::net {

bool DotStuffer::BeginsLine(std::string_view text, size_t at) const {
  if (at >= 2) return text[at - 2] == '\r' && text[at - 1] == '\n';
  if (at == 1) return text[0] == '\n' && position_ == Position::kAfterCr;
  return position_ == Position::kLineStart;
}

std::string_view DotStuffer::Stuff(std::string_view text) {
  if (text.empty()) return text;
  // Dots are rarer than line ends, in encoded text most of all: look for them, not for lines.
  bool stuffing = false;  // whether stuffed_ holds text[0, copied) already
  size_t copied = 0;
  for (size_t dot = text.find('.'); dot != std::string_view::npos; dot = text.find('.', dot + 1)) {
    if (!BeginsLine(text, dot)) continue;
    if (!stuffing) {
      stuffed_.clear();
      stuffing = true;
    }
    stuffed_.append(text.substr(copied, dot - copied));
    stuffed_.push_back('.');
    copied = dot;
  }
  if (text.back() == '\r') {
    position_ = Position::kAfterCr;
  } else {
    position_ = text.back() == '\n' && BeginsLine(text, text.size()) ? Position::kLineStart
                                                                     : Position::kInLine;
  }
  if (!stuffing) return text;
  stuffed_.append(text.substr(copied));
  return stuffed_;
}

}  // namespace tovrel::net
