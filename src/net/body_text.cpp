#include "net/body_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "message/byte_masks.h"
#include "message/header_generation.h"

namespace tovrel::net {

namespace {

// RFC 5322 section 2.1.1: a line holds at most 998 octets before its CR LF.
constexpr size_t kMaxLineOctets = 998;

constexpr unsigned char kEscape = 27;

enum ByteKind : unsigned char { kPlain, kLineEnd, kControl, kEightBit };

constexpr std::array<ByteKind, 256> MakeKinds() {
  std::array<ByteKind, 256> kinds{};
  for (int b = 0; b < 256; ++b) {
    kinds[b] = b >= 128 ? kEightBit : (b < 32 || b == 127) ? kControl : kPlain;
  }
  kinds['\t'] = kPlain;
  kinds['\f'] = kPlain;
  kinds['\r'] = kLineEnd;
  kinds['\n'] = kLineEnd;
  return kinds;
}

constexpr std::array<ByteKind, 256> kKinds = MakeKinds();

}  // namespace

void TextScan::DotOrDash(std::string_view piece, size_t at) {
  if (piece[at] == '.') ++wire_size_;
  if (piece[at] == '-' && dash_lines_ && piece.substr(at).starts_with("--")) {
    size_t end = at;
    while (end < piece.size() && piece[end] != '\r' && piece[end] != '\n') ++end;
    dash_lines_(piece.substr(at, end - at));
  }
}

void TextScan::AddPiece(std::string_view entry, bool entry_ends) {
  // Bodies run to megabytes and are nearly always plain: they are passed a block at a time, and
  // only the bytes that are not printable ASCII (a line end on every line) are looked at.
  const char* data = entry.data();
  const auto size = static_cast<std::ptrdiff_t>(entry.size());
  if (line_start_) LineStart(entry, 0);
  // Every line end becomes CR LF; a CR LF stays as it is.
  int64_t line_end_growth = 0;
  // Where the open line began; before the piece when an earlier one began it.
  std::ptrdiff_t line_begin = -static_cast<std::ptrdiff_t>(line_length_);
  std::ptrdiff_t longest = 0;  // of the lines ended in the piece
  auto look = [&](size_t first, std::uint64_t looked_at) __attribute__((always_inline)) {
    const auto block = static_cast<std::ptrdiff_t>(first);
    for (; looked_at != 0; looked_at &= looked_at - 1) {
      const std::ptrdiff_t at = block + std::countr_zero(looked_at);
      const auto b = static_cast<unsigned char>(data[at]);
      switch (kKinds[b]) {
        case kPlain:
          break;
        case kLineEnd:
          longest = std::max(longest, at - line_begin);
          line_begin = at + 1;
          if (b == '\r' && at + 1 < size && data[at + 1] == '\n') {
            ++line_end_growth;  // the LF that follows takes it back, and begins the next line
          } else {
            line_end_growth += b == '\n' && at > 0 && data[at - 1] == '\r' ? -1 : 1;
            LineStart(entry, static_cast<size_t>(at + 1));
          }
          break;
        case kControl:
          control_ = control_ || !(escapes_allowed_ && b == kEscape);
          break;
        case kEightBit:
          eight_bit_ = true;
          break;
      }
    }
  };
  message::ForEachMask(entry, message::UnprintableMasks, message::UnprintableMaskTail, look);
  const auto open_length = static_cast<size_t>(size - line_begin);
  long_line_ = long_line_ || open_length > kMaxLineOctets ||
               longest > static_cast<std::ptrdiff_t>(kMaxLineOctets);
  line_length_ = entry_ends ? 0 : open_length;
  wire_size_ += size + line_end_growth + (entry_ends ? 2 : 0);
  line_start_ = entry_ends || (line_start_ && entry.empty());
}

TextPlan TextScan::Plan(bool eight_bit_allowed) const {
  TextPlan plan;
  plan.eight_bit = eight_bit_;
  if (long_line_ || control_ || (eight_bit_ && !eight_bit_allowed)) {
    plan.form = TextForm::tfQuotedPrintable;
  }
  return plan;
}

void BodyLines::ForEach(const message::BodyFile::PieceTaker& take,
                        const std::function<void()>& restart) const {
  if (file_ != nullptr) {
    file_->ForEachPiece(take, restart);
    return;
  }
  for (const std::string& entry : *entries_) take(entry, true);
}

void BodyLines::ForEachRun(const message::BodyFile::PieceTaker& take,
                           const std::function<void()>& restart) const {
  if (file_ != nullptr) {
    file_->ForEachRun(take, restart);
    return;
  }
  for (const std::string& entry : *entries_) take(entry, true);
}

size_t WriteWireLines(std::string_view entry, bool line_start, char* out) {
  char* at = out;
  ForEachWireLine(
      entry, [&](std::string_view line) __attribute__((always_inline)) {
        if (line_start && line.starts_with('.')) *at++ = '.';
        std::memcpy(at, line.data(), line.size());
        at += line.size();
        *at++ = '\r';
        *at++ = '\n';
        line_start = true;
      });
  return static_cast<size_t>(at - out);
}

std::string BodyCharset(const message::LocaleInfo& locale, bool converted_to_jis) {
  if (locale.IsUtf8()) return "UTF-8";
  message::HeaderCharset charset = message::SelectHeaderCharset(locale);
  if (charset.transfer == message::txIso2022Jp && !converted_to_jis) return "Shift_JIS";
  return charset.charset;
}

}  // namespace tovrel::net
