#include "net/body_text.h"

#include <array>
#include <cstdint>
#include <cstring>

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

constexpr std::uint64_t kEveryByte = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Whether each of the eight bytes of `word` is printable ASCII (32 to 126). A byte below 32
// borrows into its high bit when 32 is taken from it; one above 126 reaches the high bit when 1
// is added, or has it already. Either test may give a false alarm only when it is right anyway.
bool AllPrintable(std::uint64_t word) {
  const std::uint64_t below = (word - kEveryByte * 32) & ~word;
  const std::uint64_t above = (word + kEveryByte) | word;
  return ((below | above) & kHighBits) == 0;
}

}  // namespace

void TextScan::AddPiece(std::string_view entry, bool entry_ends) {
  // One pass over the bytes; bodies run to megabytes and are nearly always plain, which is passed
  // a word at a time.
  size_t line_length = line_length_;
  size_t at = 0;
  while (at < entry.size()) {
    if (entry.size() - at >= sizeof(std::uint64_t)) {
      std::uint64_t word;
      std::memcpy(&word, entry.data() + at, sizeof word);
      if (AllPrintable(word)) {
        at += sizeof word;
        line_length += sizeof word;
        continue;
      }
    }
    const auto b = static_cast<unsigned char>(entry[at++]);
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
  line_length_ = entry_ends ? 0 : line_length;
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

std::string BodyCharset(const message::LocaleInfo& locale, bool converted_to_jis) {
  if (locale.IsUtf8()) return "UTF-8";
  message::HeaderCharset charset = message::SelectHeaderCharset(locale);
  if (charset.transfer == message::txIso2022Jp && !converted_to_jis) return "Shift_JIS";
  return charset.charset;
}

}  // namespace tovrel::net
