#include "app/text_rules.h"

#include <gtest/gtest.h>

#include "app/app_errors.h"
#include "store/stored_integer.h"

namespace tovrel::app {
namespace {

using Items = std::vector<std::string>;

TEST(TextRulesTest, IntegerConversionTakesASignAndDecimalDigitsOnly) {
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("25"), 25);
  EXPECT_EQ(StrToInt("+25"), 25);
  EXPECT_EQ(StrToInt("-3"), -3);
  EXPECT_EQ(StrToInt("007"), 7);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", "None", " 25", "25 ", "+", "-", "2.5", "0x19", "$19", "1e3",
                          "2147483648", "-2147483649", "99999999999999999999"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const ConversionError& e) {
      EXPECT_EQ(e.what(), "'" + std::string(bad) + "' is not a valid integer value");
    }
  }
  EXPECT_EQ(store::StrToIntDef("abc", -1), -1);
}

TEST(TextRulesTest, CommaTextSplitSeparatesAtCommasAndBlanks) {
  EXPECT_EQ(CommaTextSplit("Jane Q Doe,jd"), (Items{"Jane", "Q", "Doe", "jd"}));
  EXPECT_EQ(CommaTextSplit("a,,b"), (Items{"a", "", "b"}));
  EXPECT_EQ(CommaTextSplit("a,"), (Items{"a", ""}));
  EXPECT_EQ(CommaTextSplit("a, "), (Items{"a"}));   // the comma is not the last character
  EXPECT_EQ(CommaTextSplit(","), (Items{"", ""}));  // an empty item, then the trailing one
  EXPECT_EQ(CommaTextSplit(""), Items{});
  EXPECT_EQ(CommaTextSplit(" \t\r\n "), Items{});
  EXPECT_EQ(CommaTextSplit("  a \t b\n"), (Items{"a", "b"}));
  EXPECT_EQ(CommaTextSplit("Jane Doe, jd"), (Items{"Jane", "Doe", "jd"}));
  EXPECT_EQ(CommaTextSplit("caf\xC3\xA9,x"), (Items{"caf\xC3\xA9", "x"}));
}

TEST(TextRulesTest, CommaTextSplitHonoursDoubleQuotes) {
  EXPECT_EQ(CommaTextSplit("\"Doe, Jane\",jd"), (Items{"Doe, Jane", "jd"}));
  EXPECT_EQ(CommaTextSplit("\"say \"\"hi\"\"\" x"), (Items{"say \"hi\"", "x"}));
  EXPECT_EQ(CommaTextSplit("\"unterminated, rest"), (Items{"unterminated, rest"}));
  EXPECT_EQ(CommaTextSplit("\"ab\"cd,e"), (Items{"ab", "cd", "e"}));
  EXPECT_EQ(CommaTextSplit("a\"b c"), (Items{"a\"b", "c"}));  // a quote inside an item is kept
  EXPECT_EQ(CommaTextSplit("\"\""), (Items{""}));
}

TEST(TextRulesTest, CommaTextSplitStopsAtANul) {
  EXPECT_EQ(CommaTextSplit(std::string("a,b\0c,d", 7)), (Items{"a", "b"}));
}

}  // namespace
}  // namespace tovrel::app
