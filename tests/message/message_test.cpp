// The message object: defaults, Clear, the date flag, parts and their header-backed fields.

#include "message/message.h"

#include <gtest/gtest.h>

#include "message/message_error.h"

namespace tovrel::message {
namespace {

void Fill(Message& m) {
  m.body() = {"line"};
  m.recipients().LoadFromText("a@x");
  m.cc_list().LoadFromText("b@x");
  m.bcc_list().LoadFromText("c@x");
  m.reply_to().LoadFromText("d@x");
  m.from().set_text("F <f@x>");
  m.sender().set_text("s@x");
  m.receipt_recipient().set_text("r@x");
  m.set_subject("s");
  m.set_organization("o");
  m.set_references("<r>");
  m.set_char_set("charset=x");
  m.set_content_type("text/plain");
  m.set_content_transfer_encoding("8bit");
  m.set_priority(mpLow);
  m.set_date(46000.5);
  m.news_groups() = {"g"};
  m.extra_headers().SetHeader("X-A", "1");
  m.received_headers().Add("Received: x");
  m.parts().AddTextPart();
  m.parts().AddAttachment("/f");
  m.set_no_decode(true);
}

void ExpectEmpty(const Message& m) {
  EXPECT_TRUE(m.body().empty());
  EXPECT_TRUE(m.recipients().empty());
  EXPECT_TRUE(m.cc_list().empty());
  EXPECT_TRUE(m.bcc_list().empty());
  EXPECT_TRUE(m.reply_to().empty());
  EXPECT_EQ(m.from(), EmailAddress());
  EXPECT_EQ(m.sender(), EmailAddress());
  EXPECT_EQ(m.receipt_recipient(), EmailAddress());
  EXPECT_EQ(m.subject(), "");
  EXPECT_EQ(m.organization(), "");
  EXPECT_EQ(m.references(), "");
  EXPECT_EQ(m.char_set(), "");
  EXPECT_EQ(m.content_type(), "");
  EXPECT_EQ(m.content_transfer_encoding(), "");
  EXPECT_EQ(m.priority(), mpNormal);
  EXPECT_EQ(m.date(), 0.0);
  EXPECT_TRUE(m.use_now_for_date());
  EXPECT_TRUE(m.news_groups().empty());
  EXPECT_TRUE(m.extra_headers().empty());
  EXPECT_TRUE(m.received_headers().empty());
  EXPECT_TRUE(m.parts().empty());
}

TEST(MessageTest, NewMessageIsEmpty) {
  Message m;
  ExpectEmpty(m);
  EXPECT_FALSE(m.no_decode());
}

TEST(MessageTest, ClearEmptiesEverythingButNoDecode) {
  Message m;
  Fill(m);
  EXPECT_FALSE(m.use_now_for_date());
  m.Clear();
  ExpectEmpty(m);
  EXPECT_TRUE(m.no_decode());
}

TEST(MessageTest, ClearContentKeepsHeaderFields) {
  Message m;
  Fill(m);
  m.ClearContent();
  EXPECT_TRUE(m.parts().empty());
  EXPECT_TRUE(m.body().empty());
  EXPECT_EQ(m.subject(), "s");
  m.ClearHeaderFields();
  ExpectEmpty(m);
}

TEST(MessageTest, UseNowForDate) {
  Message m;
  m.set_date(45000.25);
  EXPECT_FALSE(m.use_now_for_date());
  m.set_use_now_for_date(true);
  EXPECT_EQ(m.date(), 0.0);
  m.set_use_now_for_date(false);  // fixes the present moment
  EXPECT_FALSE(m.use_now_for_date());
  EXPECT_GT(m.date(), 45000.0);
  const DateTime fixed = 44000.0;
  m.set_date(fixed);
  m.set_use_now_for_date(false);  // a set date stays
  EXPECT_EQ(m.date(), fixed);
}

TEST(MessagePartTest, AttachmentStartsWithoutHeaders) {
  Message m;
  Attachment& a = m.parts().AddAttachment("/tmp/report.pdf");
  EXPECT_EQ(a.file_name(), "/tmp/report.pdf");
  EXPECT_EQ(a.content_type(), "");
  EXPECT_EQ(a.content_transfer(), "");
  EXPECT_EQ(a.content_disposition(), "");
  EXPECT_TRUE(a.part_headers().empty());
  EXPECT_EQ(&a.collection(), &m.parts());
}

TEST(MessagePartTest, HeaderBackedFields) {
  Message m;
  TextPart& t = m.parts().AddTextPart();
  t.set_content_type("text/html");
  t.set_content_transfer("quoted-printable");
  EXPECT_EQ(t.content_type(), "text/html");
  EXPECT_EQ(t.part_headers().ValueOf("content-type"), "text/html");
  t.set_content_type("");
  EXPECT_EQ(t.content_type(), "");
  EXPECT_EQ(t.part_headers().IndexOfHeader("Content-Type"), -1);
  EXPECT_EQ(t.content_transfer(), "quoted-printable");
  // Long values fold and read back whole.
  const std::string long_type = "text/plain; name=\"a\"; " + std::string(30, 'x') + "=" +
                                std::string(40, 'y') + "; charset=utf-8";
  t.set_content_type(long_type);
  EXPECT_GT(t.part_headers().count(), 2u);
  EXPECT_EQ(t.content_type(), long_type);
}

TEST(MessagePartTest, AssignSameKindOnly) {
  Message m;
  const StringList body = {"one", "two"};
  TextPart& source = m.parts().AddTextPart(&body);
  source.set_content_type("text/plain");
  source.extra_headers().Add("X-Id: 1");
  TextPart& copy = m.parts().AddTextPart();
  copy.Assign(source);
  EXPECT_EQ(copy.body(), body);
  EXPECT_EQ(copy.content_type(), "text/plain");
  EXPECT_EQ(copy.extra_headers().lines(), source.extra_headers().lines());

  Attachment& a = m.parts().AddAttachment("/a");
  a.set_content_disposition("inline");
  Attachment& b = m.parts().AddAttachment("/b");
  b.Assign(a);
  EXPECT_EQ(b.file_name(), "/a");
  EXPECT_EQ(b.content_disposition(), "inline");
  try {
    a.Assign(source);
    FAIL() << "no exception";
  } catch (const NetError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TextPart to a Attachment");
  }
  EXPECT_EQ(a.file_name(), "/a");
}

TEST(MessagePartTest, CreatingByClassName) {
  Message m;
  EXPECT_NE(dynamic_cast<TextPart*>(&m.parts().AddPart("TextPart")), nullptr);
  EXPECT_NE(dynamic_cast<Attachment*>(&m.parts().AddPart("Attachment")), nullptr);
  try {
    m.parts().AddPart("MessagePart");
    FAIL() << "no exception";
  } catch (const MessageError& e) {
    EXPECT_STREQ(e.what(), "MessagePart can not be created.  Use descendant classes. ");
  }
  EXPECT_EQ(m.parts().count(), 2u);
  m.parts().Delete(0);
  EXPECT_NE(dynamic_cast<Attachment*>(&m.parts()[0]), nullptr);
}

}  // namespace
}  // namespace tovrel::message
