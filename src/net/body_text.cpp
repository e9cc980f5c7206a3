#include "net/body_text.h"

#include <array>

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

void TextScan::Add(std::string_view entry) {
  // One pass over the bytes; bodies run to megabytes and are nearly always plain.
  size_t line_length = 0;
  for (const char c : entry) {
    const auto b = static_cast<unsigned char>(c);
    switch (kKinds[b]) {
      case kPlain:
        break;
      case kLineEnd:
        long_line_ = long_line_ || line_length > kMaxLineOctets;
        line_length = 0;
        continue;
      case kControl:
        control_ = control_ || !(escapes_allowed_ && b == kEscape);
        break;
      case kEightBit:
        eight_bit_ = true;
        break;
    }
    ++line_length;
  }
  long_line_ = long_line_ || line_length > kMaxLineOctets;
}

TextPlan TextScan::Plan(bool eight_bit_allowed) const {
  TextPlan plan;
  plan.eight_bit = eight_bit_;
  if (long_line_ || control_ || (eight_bit_ && !eight_bit_allowed)) {
    plan.form = TextForm::tfQuotedPrintable;
  }
  return plan;
}

void BodyLines::ForEach(const std::function<void(std::string_view)>& take) const {
  if (file_ != nullptr) {
    file_->ForEachLine(take);
    return;
  }
  for (const std::string& entry : *entries_) take(entry);
}

std::string BodyCharset(const message::LocaleInfo& locale, bool converted_to_jis) {
  if (locale.IsUtf8()) return "UTF-8";
  message::HeaderCharset charset = message::SelectHeaderCharset(locale);
  if (charset.transfer == message::txIso2022Jp && !converted_to_jis) return "Shift_JIS";
  return charset.charset;
}

}  // namespace tovrel::net
