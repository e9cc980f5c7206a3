// Hostile input for every text entry point of the layer: random bytes with NUL, 8-bit bytes,
// lone quotes, brackets and line breaks. Each case checks an invariant of the result; the
// sanitizer build turns any out-of-bounds access into a failure.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "message/coders/base64.h"
#include "message/coders/quoted_printable.h"
#include "message/coders/uu_xx.h"
#include "message/email_address.h"
#include "message/header_list.h"
#include "message/locale_info.h"
#include "message/message_error.h"
#include "message/shift_jis.h"
#include "message/string_helpers.h"

namespace tovrel::message {
namespace {

// Random text biased towards the characters the parsers treat specially.
std::string HostileText(std::mt19937& rng) {
  static const std::string reserved = std::string("\"'<>(),;:@\\ \t\r\n=?_\x1b") + '\0';
  std::string s(rng() % 80, '\0');
  for (char& c : s) {
    c = rng() % 2 ? reserved[rng() % reserved.size()] : static_cast<char>(rng() % 256);
  }
  return s;
}

TEST(RobustnessTest, AddressesParseToTrimmedParts) {
  std::mt19937 rng(1);
  for (int i = 0; i < 3000; ++i) {
    const std::string text = HostileText(rng);
    EmailAddressList list;
    list.LoadFromText(text);
    EXPECT_LE(list.count(),
              static_cast<std::size_t>(std::count(text.begin(), text.end(), ',')) + 1);
    for (std::size_t k = 0; k < list.count(); ++k) {
      EXPECT_LE(list[k].address().size() + list[k].name().size(), text.size());
    }
    EmailAddress single;
    single.set_text(text);
    EXPECT_LE(single.address().size() + single.name().size(), text.size());
  }
}

TEST(RobustnessTest, HeaderListKeepsOneFieldPerSet) {
  std::mt19937 rng(2);
  for (int i = 0; i < 2000; ++i) {
    HeaderList list;
    const std::string value = HostileText(rng);
    list.SetHeader("X-Test", value);
    if (value.empty()) {
      EXPECT_TRUE(list.empty());
      continue;
    }
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.IndexOfHeader("X-Test"), 0);
    for (std::size_t k = 0; k < list.count(); ++k) {
      EXPECT_EQ(list[k].find_first_of("\r\n"), std::string::npos);
      if (k > 0) {
        EXPECT_TRUE(list[k][0] == ' ' || list[k][0] == '\t');
      }
    }
    list.SetHeader("x-test", "");
    EXPECT_TRUE(list.empty());
  }
}

TEST(RobustnessTest, ShiftJisOutputIsSevenBit) {
  std::mt19937 rng(3);
  for (int i = 0; i < 3000; ++i) {
    const std::string out = ShiftJisToJis(HostileText(rng));
    for (unsigned char c : out) ASSERT_LT(c, 128);
    // Every shift into double-byte mode is undone before the end.
    const std::size_t in = out.rfind("\x1b$B");
    if (in != std::string::npos) {
      EXPECT_NE(out.find("\x1b(B", in), std::string::npos);
    }
  }
}

TEST(RobustnessTest, DoubleByteSearchAndWrapNeverReadPastTheEnd) {
  ApplyCodeSet(LocaleInfo{"zh_TW", "BIG5"});
  std::mt19937 rng(4);
  for (int i = 0; i < 2000; ++i) {
    const std::string text = HostileText(rng);
    const std::string sub = text.substr(0, rng() % 3);
    const std::size_t p = FindSubstring(sub, text);
    if (p > 0) {
      EXPECT_EQ(text.compare(p - 1, sub.size(), sub), 0);
    }
    const std::string wrapped = WrapLine(text, "\r\n ", " \t", 20);
    EXPECT_GE(wrapped.size(), text.size());
  }
  ApplyCodeSet(LocaleInfo{"C", "ANSI_X3.4-1968"});
}

TEST(RobustnessTest, DecodersEitherDecodeOrRaiseTheirError) {
  std::mt19937 rng(5);
  for (int i = 0; i < 1000; ++i) {
    const std::string text = HostileText(rng);
    QuotedPrintableDecoder qp;
    std::string out;
    qp.Feed(text, out);
    qp.FinishInput(out);
    EXPECT_LE(out.size(), text.size());
    Base64Decoder b64;
    UUDecoder uu;
    out.clear();
    try {
      b64.Feed(text, out);
      b64.FinishInput(out);
      EXPECT_LE(out.size(), text.size());
    } catch (const TableNotFound&) {
    }
    try {
      uu.Feed("begin 644 f\n" + text, out);
      uu.FinishInput(out);
    } catch (const TableNotFound&) {
    }
  }
}

}  // namespace
}  // namespace tovrel::message
