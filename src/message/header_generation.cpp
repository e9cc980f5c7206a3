#include "message/header_generation.h"

#include "message/coders/base64.h"
#include "message/coders/quoted_printable.h"
#include "message/internet_date.h"
#include "message/shift_jis.h"
#include "message/string_helpers.h"

namespace tovrel::message {
namespace {

constexpr std::size_t kMaxEncodedWord = 75;
// A line that carries encoded words holds at most this many characters (RFC 2047 section 2).
constexpr std::size_t kMaxEncodedLine = 76;
// A header line may hold 998 octets (RFC 5322 section 2.1.1) and folding only breaks at blanks,
// so a longer word could never fit: such a word goes out as encoded words, which break anywhere.
// The margin leaves room for the longest field name in front of it.
constexpr std::size_t kMaxPlainWord = 900;
constexpr const char* kJisToDouble = "\x1b$B";
constexpr const char* kJisToSingle = "\x1b(B";

bool IsHeaderBlank(char c) { return c == ' ' || c == '\t'; }

bool AlwaysEncoded(unsigned char c) { return c < 32 || c > 126; }

enum class CharUnits { kSingle, kUtf8, kDoubleByte, kEucJp, kIso2022Jp };

CharUnits UnitsOf(std::string_view charset) {
  if (EqualsIgnoreCase(charset, "UTF-8") || EqualsIgnoreCase(charset, "UTF8")) {
    return CharUnits::kUtf8;
  }
  if (EqualsIgnoreCase(charset, "ISO-2022-JP")) return CharUnits::kIso2022Jp;
  if (EqualsIgnoreCase(charset, "EUC-JP")) return CharUnits::kEucJp;
  if (EqualsIgnoreCase(charset, "GB2312") || EqualsIgnoreCase(charset, "Big5") ||
      EqualsIgnoreCase(charset, "EUC-KR") || EqualsIgnoreCase(charset, "GBK") ||
      EqualsIgnoreCase(charset, "GB18030") || EqualsIgnoreCase(charset, "Shift_JIS")) {
    return CharUnits::kDoubleByte;
  }
  return CharUnits::kSingle;
}

// Writes encoded words for one span of bytes, cutting only between whole characters.
class SpanEncoder {
 public:
  SpanEncoder(std::string& out, char letter, std::string_view charset, std::string_view specials)
      : out_(out), q_(AsciiUpper(letter) == 'Q'), units_(UnitsOf(charset)), specials_(specials) {
    open_.append("=?").append(charset).append("?").push_back(letter);
    open_.push_back('?');
  }

  // `first_limit` caps the first word: it shares its line with what stands before it.
  void Encode(std::string_view span, std::size_t first_limit = kMaxEncodedWord) {
    chunk_.clear();
    chunk_q_length_ = 0;
    double_mode_ = false;
    bool first_word = true;
    std::size_t limit = first_limit;
    std::size_t i = 0;
    while (i < span.size()) {
      const std::size_t length = UnitLength(span, i);
      const std::string_view unit = span.substr(i, length);
      const bool mode_after = ModeAfter(unit);
      // Room for the unit, and for the shift back to single-byte mode a word must end with.
      const std::string_view tail = mode_after ? kJisToSingle : "";
      const std::size_t needed = q_ ? chunk_q_length_ + QLength(unit) + QLength(tail)
                                    : 4 * ((chunk_.size() + unit.size() + tail.size() + 2) / 3);
      if (!chunk_.empty() && open_.size() + needed + 2 > limit) {
        if (double_mode_) chunk_.append(kJisToSingle);
        WriteWord(first_word);
        first_word = false;
        limit = kMaxEncodedWord;
        chunk_.clear();
        chunk_q_length_ = 0;
        if (double_mode_ && !IsEscape(unit)) Append(kJisToDouble);
      }
      Append(unit);
      double_mode_ = mode_after;
      i += length;
    }
    if (double_mode_) chunk_.append(kJisToSingle);  // the converter always ends single-byte
    WriteWord(first_word);
  }

  // The shortest word worth starting: its delimiters and one encoded character.
  std::size_t least_word() const { return open_.size() + 2 + (q_ ? 9 : 8); }

 private:
  static bool IsEscape(std::string_view unit) { return !unit.empty() && unit[0] == '\x1b'; }

  bool ModeAfter(std::string_view unit) const {
    if (units_ != CharUnits::kIso2022Jp || !IsEscape(unit)) return double_mode_;
    return unit == kJisToDouble;
  }

  std::size_t UnitLength(std::string_view s, std::size_t i) const {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t left = s.size() - i;
    std::size_t length = 1;
    switch (units_) {
      case CharUnits::kSingle:
        break;
      case CharUnits::kUtf8: {
        const std::size_t expected = b >= 0xF0 && b <= 0xF7   ? 4
                                     : b >= 0xE0 && b <= 0xEF ? 3
                                     : b >= 0xC0 && b <= 0xDF ? 2
                                                              : 1;
        while (length < expected && length < left &&
               (static_cast<unsigned char>(s[i + length]) & 0xC0) == 0x80) {
          ++length;
        }
        break;
      }
      case CharUnits::kDoubleByte:
        if (b >= 0x81 && b <= 0xFE) length = 2;
        break;
      case CharUnits::kEucJp:
        if (b == 0x8F) {
          length = 3;
        } else if (b == 0x8E || (b >= 0xA1 && b <= 0xFE)) {
          length = 2;
        }
        break;
      case CharUnits::kIso2022Jp:
        if (b == 0x1B) {
          length = 3;
        } else if (double_mode_) {
          length = 2;
        }
        break;
    }
    return length < left ? length : left;
  }

  bool QEscaped(unsigned char c) const {
    return AlwaysEncoded(c) || c == '=' || c == '?' || c == '_' ||
           specials_.find(static_cast<char>(c)) != std::string_view::npos;
  }

  std::size_t QLength(std::string_view bytes) const {
    std::size_t length = 0;
    for (char c : bytes) length += (c != ' ' && QEscaped(static_cast<unsigned char>(c))) ? 3 : 1;
    return length;
  }

  void Append(std::string_view bytes) {
    chunk_.append(bytes);
    if (q_) chunk_q_length_ += QLength(bytes);
  }

  void WriteWord(bool first_word) {
    if (!first_word) out_.append("\r\n\t");
    out_.append(open_);
    if (q_) {
      for (char c : chunk_) {
        const auto b = static_cast<unsigned char>(c);
        if (b == ' ') {
          out_.push_back('_');
        } else if (QEscaped(b)) {
          HexEscape(b, out_);
        } else {
          out_.push_back(c);
        }
      }
    } else {
      AppendBase64(chunk_, out_);
    }
    out_.append("?=");
  }

  std::string& out_;
  bool q_;
  CharUnits units_;
  std::string_view specials_;
  std::string open_;
  std::string chunk_;
  std::size_t chunk_q_length_ = 0;
  bool double_mode_ = false;
};

}  // namespace

HeaderCharset SelectHeaderCharset(const LocaleInfo& locale) {
  HeaderCharset result{"ISO-8859-1", 'Q', tx8Bit};
  const std::string language = locale.PrimaryLanguage();
  if (language == "zh") {
    const std::string territory = locale.Territory();
    const bool simplified = territory == "CN" || territory == "SG";
    result = HeaderCharset{simplified ? "GB2312" : "Big5", 'B', tx8Bit};
  } else if (language == "ja") {
    result = HeaderCharset{"ISO-2022-JP", 'B', txIso2022Jp};
  } else if (language == "ko") {
    result = HeaderCharset{"EUC-KR", 'B', tx8Bit};
  }
  if (locale.IsUtf8()) {
    result.charset = "UTF-8";
    result.transfer = tx8Bit;
  } else if (result.transfer == txIso2022Jp && !locale.IsShiftJis()) {
    // Japanese text in another code set: converting it as Shift_JIS would garble it.
    result.transfer = tx8Bit;
    if (EqualsIgnoreCase(locale.codeset, "EUC-JP") || EqualsIgnoreCase(locale.codeset, "EUCJP")) {
      result.charset = "EUC-JP";
    }
  }
  return result;
}

std::string EncodeHeaderText(std::string_view text, std::string_view specials, char letter,
                             HeaderTransfer transfer, std::string_view charset, std::size_t lead) {
  std::string converted;
  std::string_view s = text;
  if (transfer == txIso2022Jp) {
    converted = ShiftJisToJis(text);
    s = converted;
  }
  auto needs_encoding = [&](std::string_view token) {
    for (char c : token) {
      if (AlwaysEncoded(static_cast<unsigned char>(c)) ||
          specials.find(c) != std::string_view::npos) {
        return true;
      }
    }
    // A plain word that looks like an encoded word would be decoded by the reader.
    return token.find("=?") != std::string_view::npos || token.size() > kMaxPlainWord;
  };

  std::string result;
  result.reserve(s.size() + s.size() / 2 + 16);
  SpanEncoder encoder(result, letter, charset, specials);
  const std::size_t length = s.size();
  std::size_t span_start = std::string_view::npos;
  // Where the first encoded word starts in `result`: nothing before it has been folded yet.
  std::size_t first_span_at = std::string::npos;
  // The first word stays on the line the field starts: a reader keeps the blank of a fold in
  // front of it as part of the text. When a word before it leaves too little room, the fold
  // comes at the blank between the two instead, and the word takes a line of its own.
  const auto first_limit = [&] {
    const std::size_t used = lead + first_span_at;
    const std::size_t room = used < kMaxEncodedLine ? kMaxEncodedLine - used : 0;
    return room >= encoder.least_word() && room < kMaxEncodedWord ? room : kMaxEncodedWord;
  };
  const auto encode = [&](std::string_view span) {
    encoder.Encode(span, result.size() == first_span_at ? first_limit() : kMaxEncodedWord);
  };
  std::size_t i = 0;
  while (i < length) {
    const std::size_t word_start = i;
    while (i < length && IsHeaderBlank(s[i])) ++i;
    const std::size_t token_start = i;
    while (i < length && !IsHeaderBlank(s[i])) ++i;
    const std::string_view token = s.substr(token_start, i - token_start);
    if (!token.empty() && needs_encoding(token)) {
      if (span_start == std::string_view::npos) {
        result.append(s.substr(word_start, token_start - word_start));
        span_start = token_start;
        if (first_span_at == std::string::npos) first_span_at = result.size();
      }
    } else {
      if (span_start != std::string_view::npos) {
        encode(s.substr(span_start, word_start - span_start));
        span_start = std::string_view::npos;
      }
      result.append(s.substr(word_start, i - word_start));
    }
  }
  if (span_start != std::string_view::npos) encode(s.substr(span_start));
  return result;
}

std::string EncodeWholeText(std::string_view text, char letter, std::string_view charset) {
  std::string result;
  if (text.empty()) return result;
  SpanEncoder(result, letter, charset, "").Encode(text);
  return result;
}

std::string EncodeHeaderText(std::string_view text, std::string_view specials,
                             const HeaderCharset& charset, std::size_t lead) {
  return EncodeHeaderText(text, specials, charset.letter, charset.transfer, charset.charset, lead);
}

std::string EncodeMailbox(const EmailAddress& item, char letter, HeaderTransfer transfer,
                          std::string_view charset, std::size_t lead) {
  if (item.name().empty()) return item.address();
  const std::string& name = item.name();
  bool printable = true;
  std::size_t word_length = 0;
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 32 || b > 126) printable = false;
    word_length = b == ' ' ? 0 : word_length + 1;
    if (word_length > kMaxPlainWord) printable = false;
  }
  std::string result;
  if (!printable) {
    result = EncodeHeaderText(name, kAddressSpecials, letter, transfer, charset, lead);
  } else {
    result.push_back('"');
    for (char c : name) {
      if (c == '\\' || c == '"') result.push_back('\\');
      result.push_back(c);
    }
    result.push_back('"');
  }
  result.append(" <").append(item.address()).append(">");
  return result;
}

std::string EncodeMailboxList(const EmailAddressList& list, char letter, HeaderTransfer transfer,
                              std::string_view charset, std::size_t lead) {
  std::string result;
  for (std::size_t i = 0; i < list.count(); ++i) {
    if (i > 0) result.append(", ");
    // The mailboxes after the first are set apart by a blank, where a fold does no harm.
    result.append(EncodeMailbox(list[i], letter, transfer, charset, i == 0 ? lead : 0));
  }
  return result;
}

std::string CommaText(const StringList& entries) {
  std::string result;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) result.push_back(',');
    const std::string& entry = entries[i];
    bool quote = entry.empty();
    for (char c : entry) {
      if (static_cast<unsigned char>(c) <= 32 || c == '"' || c == ',') quote = true;
    }
    if (!quote) {
      result.append(entry);
      continue;
    }
    result.push_back('"');
    for (char c : entry) {
      if (c == '"') result.push_back('"');
      result.push_back(c);
    }
    result.push_back('"');
  }
  return result;
}

HeaderList BuildHeaderList(const Message& message, const LocaleInfo& locale) {
  const HeaderCharset cs = SelectHeaderCharset(locale);
  // The date comes first so that a time-zone failure leaves nothing half built.
  const std::string date = message.use_now_for_date()
                               ? FormatInternetDateOfMoment(std::time(nullptr))
                               : FormatInternetDate(message.date());
  HeaderList h;
  // The columns the field's name and separator take on its first line.
  const auto lead = [&h](std::string_view name) {
    return name.size() + h.value_separator().size();
  };
  auto mailbox = [&](std::string_view name, const EmailAddress& a) {
    return EncodeMailbox(a, cs.letter, cs.transfer, cs.charset, lead(name));
  };
  auto mailboxes = [&](std::string_view name, const EmailAddressList& l) {
    return EncodeMailboxList(l, cs.letter, cs.transfer, cs.charset, lead(name));
  };
  h.SetHeader("From", mailbox("From", message.from()));
  h.SetHeader("Subject", EncodeHeaderText(message.subject(), "", cs, lead("Subject")));
  h.SetHeader("To", mailboxes("To", message.recipients()));
  h.SetHeader("Cc", mailboxes("Cc", message.cc_list()));
  h.SetHeader("Newsgroups", CommaText(message.news_groups()));
  h.SetHeader("Content-Type", message.content_type());
  if (!message.parts().empty()) h.SetHeader("MIME-Version", "1.0");
  h.SetHeader("Content-Transfer-Encoding", message.content_transfer_encoding());
  h.SetHeader("Sender", message.sender().text());
  h.SetHeader("Reply-To", mailboxes("Reply-To", message.reply_to()));
  h.SetHeader("Organization",
              EncodeHeaderText(message.organization(), "", cs, lead("Organization")));
  h.SetHeader("Disposition-Notification-To",
              mailbox("Disposition-Notification-To", message.receipt_recipient()));
  h.SetHeader("References", message.references());
  h.SetHeader("Date", date);
  h.SetHeader("X-Priority", std::to_string(static_cast<int>(message.priority()) + 1));
  h.SetHeader("X-Library", kLibraryVersion);
  h.AddStrings(message.extra_headers());
  return h;
}

}  // namespace tovrel::message
