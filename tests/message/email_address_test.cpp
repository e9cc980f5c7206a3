// Address items and lists: the text forms and the comma-splitting rule of typed address fields.

#include "message/email_address.h"

#include <gtest/gtest.h>

namespace tovrel::message {
namespace {

EmailAddress Parsed(std::string_view text) {
  EmailAddress a;
  a.set_text(text);
  return a;
}

TEST(EmailAddressTest, TextForms) {
  EXPECT_EQ(Parsed("jane@example.com"), EmailAddress("jane@example.com", ""));
  EXPECT_EQ(Parsed("Jane Doe <jane@example.com>"), EmailAddress("jane@example.com", "Jane Doe"));
  EXPECT_EQ(Parsed("jane@example.com (Jane Doe)"), EmailAddress("jane@example.com", "Jane Doe"));
  EXPECT_EQ(Parsed("<jane@example.com>"), EmailAddress("jane@example.com", ""));
  EXPECT_EQ(Parsed("  Jane   <  jane@example.com >"), EmailAddress("jane@example.com", "Jane"));
  EXPECT_EQ(Parsed(" bare@x "), EmailAddress(" bare@x ", ""));  // a bare address is kept as typed
  EXPECT_EQ(Parsed("Jane Doe <jane@example.com>").text(), "Jane Doe <jane@example.com>");
  EXPECT_EQ(Parsed("jane@example.com").text(), "jane@example.com");
}

TEST(EmailAddressTest, UnbalancedBracketsGiveNothing) {
  EXPECT_EQ(Parsed("jane@example.com>"), EmailAddress());
  EXPECT_EQ(Parsed("jane)"), EmailAddress());
  EXPECT_EQ(Parsed(">"), EmailAddress());
  EXPECT_EQ(Parsed(")"), EmailAddress());
  EXPECT_EQ(Parsed("<>"), EmailAddress());
  EXPECT_EQ(Parsed("()"), EmailAddress());
  EXPECT_EQ(Parsed(""), EmailAddress());
  // A "<" after the ">" (or a ">" before the "<") leaves nothing to read between them.
  EXPECT_EQ(Parsed("a> b <c>"), EmailAddress("c", "a> b"));
}

TEST(EmailAddressTest, QuotesAroundNameAreStrippedRepeatedly) {
  EXPECT_EQ(Parsed("\"'Jane'\" <j@x>").name(), "Jane");
  EXPECT_EQ(Parsed("\"Doe, Jane\" <j@x>").name(), "Doe, Jane");
  EXPECT_EQ(Parsed("\" <j@x>").name(), "\"");  // a single quote character stays
  EXPECT_EQ(Parsed("\"\" <j@x>").name(), "");  // two characters: stripped
  EXPECT_EQ(Parsed("'\"Jane\" <j@x>").name(), "'\"Jane\"");
}

TEST(EmailAddressTest, UpperCaseNameEqualToAddressReadsBare) {
  EmailAddress a("jane@example.com", "JANE@EXAMPLE.COM");
  EXPECT_EQ(a.text(), "jane@example.com");
  a.set_name("JANE@EXAMPLE.COm");
  EXPECT_EQ(a.text(), "JANE@EXAMPLE.COm <jane@example.com>");
  a.set_text("");
  EXPECT_EQ(a, EmailAddress());
}

TEST(EmailAddressListTest, LoadFromTextSplitsAtUnquotedCommas) {
  EmailAddressList list;
  list.LoadFromText("a@x, b@y");
  ASSERT_EQ(list.count(), 2u);
  EXPECT_EQ(list[0].address(), "a@x");
  EXPECT_EQ(list[1].address(), "b@y");

  list.LoadFromText("\"Doe, Jane\" <j@x>, k@y");
  ASSERT_EQ(list.count(), 2u);
  EXPECT_EQ(list[0], EmailAddress("j@x", "Doe, Jane"));
  EXPECT_EQ(list[1].address(), "k@y");

  list.LoadFromText("a\"b\"c\"d,e@f");  // three quotes: the comma splits
  ASSERT_EQ(list.count(), 2u);
  EXPECT_EQ(list[1].address(), "e@f");

  list.LoadFromText("\"Unclosed, name <u@x>, v@y");  // one quote protects every later comma
  EXPECT_EQ(list.count(), 1u);

  list.LoadFromText(",, a@x ,\t, ,");
  ASSERT_EQ(list.count(), 1u);
  EXPECT_EQ(list[0].address(), "a@x");

  list.LoadFromText("");
  EXPECT_TRUE(list.empty());
  list.LoadFromText("   ");
  EXPECT_TRUE(list.empty());
}

TEST(EmailAddressListTest, ItemsStayPutAndCopiesAreDeep) {
  EmailAddressList list;
  EmailAddress& first = list.AddItem();
  first.set_address("a@x");
  for (int i = 0; i < 100; ++i) list.AddItem().set_address("n@x");
  EXPECT_EQ(first.address(), "a@x");
  EXPECT_EQ(&first, &list[0]);

  EmailAddressList copy = list;
  copy[0].set_address("changed");
  EXPECT_EQ(list[0].address(), "a@x");
  EXPECT_EQ(copy.count(), 101u);
  copy.Delete(0);
  copy.Delete(1000);  // out of range: ignored
  EXPECT_EQ(copy.count(), 100u);
}

}  // namespace
}  // namespace tovrel::message
