#pragma once

// The user's locale as the message layer needs it: the language (which picks the character set
// named in encoded header words) and the code set (how the 8-bit text in memory is encoded).
//
// How it is used: the program reads the real locale ONCE at start-up,
//
//     const tovrel::LocaleInfo locale = tovrel::ReadLocaleInfo();
//     tovrel::ApplyCodeSet(locale);  // fixes the lead-byte rules of the text helpers
//
// and then passes `locale` by value or const reference to whatever builds headers
// (SelectHeaderCharset, BuildHeaderList, the message writer). Nothing in this layer reads the
// environment by itself, so tests can hand in any language and code set without installing
// locales.

#include <string>
#include <string_view>

namespace tovrel::message {

struct LocaleInfo {
  std::string language;  // "ll" or "ll_CC" as in the locale name, e.g. "ja_JP", "en", "C"
  std::string codeset;   // as nl_langinfo(CODESET) reports it, e.g. "UTF-8", "SHIFT_JIS"

  bool IsUtf8() const;
  bool IsShiftJis() const;
  // The two letters before "_" (lower case), "" for "C"/"POSIX".
  std::string PrimaryLanguage() const;
  // The letters after "_" (upper case), "" when the name has none.
  std::string Territory() const;
};

// Makes the process take the user's LC_CTYPE (setlocale(LC_CTYPE, "")) and reports its language
// and code set. Call once at start-up, before other threads run.
LocaleInfo ReadLocaleInfo();

// Builds the value from a locale name such as "ja_JP.SJIS" or "de_DE.UTF-8@euro"; the code set is
// taken from the name (empty when it has none).
LocaleInfo LocaleInfoFromName(std::string_view locale_name);

// Lead-byte rules of the code set (for double-byte code sets such as Shift_JIS, GBK, Big5 and
// EUC-KR) used by FindSubstring and by header folding so that a two-byte character is never cut
// or matched from its second byte. Set once at start-up; the default has no lead bytes.
void ApplyCodeSet(const LocaleInfo& locale);
bool HasLeadBytes();
bool IsLeadByte(unsigned char c);

}  // namespace tovrel::message
