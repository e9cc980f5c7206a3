// How body text is judged before it goes out: every byte that keeps text from going as typed is
// seen wherever it stands in a line, and a line is too long from its 999th octet on.

#include "net/body_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tovrel::net {
namespace {

TextPlan PlanOf(const std::string& entry, bool eight_bit_allowed = true) {
  TextScan scan;
  scan.Add(entry);
  return scan.Plan(eight_bit_allowed);
}

TEST(TextScan, SeesEveryByteThatMattersWhereverItStands) {
  for (size_t at = 0; at < 20; ++at) {
    for (const char odd : {'\x01', '\x1f', '\x7f'}) {
      std::string line(20, 'a');
      line[at] = odd;
      EXPECT_EQ(PlanOf(line).form, TextForm::tfQuotedPrintable) << at << " " << int(odd);
    }
    for (const char eight_bit : {'\x80', '\xff'}) {
      std::string line(20, '~');
      line[at] = eight_bit;
      EXPECT_TRUE(PlanOf(line).eight_bit) << at;
      EXPECT_EQ(PlanOf(line).form, TextForm::tfAsTyped) << at;
      EXPECT_EQ(PlanOf(line, false).form, TextForm::tfQuotedPrintable) << at;
    }
    for (const char plain : {'\t', '\f', ' '}) {
      std::string line(20, 'a');
      line[at] = plain;
      EXPECT_EQ(PlanOf(line).form, TextForm::tfAsTyped) << at;
      EXPECT_FALSE(PlanOf(line).eight_bit) << at;
    }
  }
  EXPECT_EQ(PlanOf(std::string(998, 'x')).form, TextForm::tfAsTyped);
  EXPECT_EQ(PlanOf(std::string(999, 'x')).form, TextForm::tfQuotedPrintable);
  // A line end inside an entry starts the count afresh.
  EXPECT_EQ(PlanOf(std::string(998, 'x') + "\r\n" + std::string(998, 'y')).form,
            TextForm::tfAsTyped);
  EXPECT_EQ(PlanOf(std::string(500, 'x') + "\n" + std::string(999, 'y')).form,
            TextForm::tfQuotedPrintable);
}

}  // namespace
}  // namespace tovrel::net
