#include "app/send_command.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QJsonArray>
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <array>
#include <filesystem>
#include <set>

#include "app/app_errors.h"
#include "app/compose_window.h"
#include "app/settings_layout.h"
#include "app/text_rules.h"
#include "app_fixture.h"
#include "gui_helpers.h"
#include "mail_judge.h"
#include "message/header_generation.h"
#include "message/message_error.h"
#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tovrel::app {
namespace {

using test::AiosmtpdServer;
using test::AnswerBox;
using test::JudgeMail;
using test::ModalAnswerer;
using test::SeenBox;

// The From header as a reader shows it.
std::string RunPythonDecodedFrom(const std::string& path) {
  const test::ProcessResult result = test::RunPython(
      "import sys\n"
      "from email import message_from_binary_file, policy\n"
      "msg = message_from_binary_file(open(sys.argv[1], 'rb'), policy=policy.default)\n"
      "sys.stdout.buffer.write(str(msg['From']).encode())\n",
      {path});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}

// The sender of a From text, and the From field a reader gets from it: a name keeps its commas
// and quotes, whatever its words, and the address is what follows the last comma.
TEST(SenderSplitTest, NamesArriveAsTypedAndTheAddressFollowsTheLastComma) {
  const struct {
    std::string from_text;
    std::string name;
    std::string address;
    std::string field;  // as EncodeMailbox writes it for a UTF-8 locale
  } cases[] = {
      {"Doe, Jane,jd@x.org", "Doe, Jane", "jd@x.org", "\"Doe, Jane\" <jd@x.org>"},
      {"Jane \"JD\" Doe,jd@x.org", "Jane \"JD\" Doe", "jd@x.org",
       "\"Jane \\\"JD\\\" Doe\" <jd@x.org>"},
      {"A B C D,jd@x.org", "A B C D", "jd@x.org", "\"A B C D\" <jd@x.org>"},
      {"\"Doe, Jane\" , jd@x.org ", "Doe, Jane", "jd@x.org", "\"Doe, Jane\" <jd@x.org>"},
      {"M\u00FCller, J\u00FCrgen,jm@x.org", "M\u00FCller, J\u00FCrgen", "jm@x.org",
       "=?UTF-8?Q?M=C3=BCller=2C_J=C3=BCrgen?= <jm@x.org>"},
      {" jd@x.org ", "", "jd@x.org", "jd@x.org"},
      {"", "", "", ""},
  };
  for (const auto& c : cases) {
    const message::EmailAddress sender = SenderOf(c.from_text);
    EXPECT_EQ(sender.name(), c.name) << c.from_text;
    EXPECT_EQ(sender.address(), c.address) << c.from_text;
    EXPECT_EQ(message::EncodeMailbox(sender, 'Q', message::tx8Bit, "UTF-8"), c.field);
  }
}

// The send command as the program runs it without a window (fields and account in, a delivered
// message out), and through the window's Send button for what only the window shows.
class SendCommandTest : public test::AppTest {
 protected:
  static Account LocalAccount(int port, const std::string& user = "",
                              const std::string& password = "") {
    return {.smtp_server = "127.0.0.1",
            .port = std::to_string(port),
            .user_name = user,
            .password = password};
  }
  void UseServer(int port, const std::string& user = "", const std::string& password = "") {
    Store("smtp", "smtp", "127.0.0.1");
    Store("port", "port", std::to_string(port));
    Store("username", "username", user);
    Store("password", "password", password);
  }

  void Fill(ComposeWindow& window, const QString& to, const QString& cc, const QString& bcc,
            const QString& subject, const QString& body) {
    QTest::keyClicks(Find<QLineEdit>(&window, "ToBox"), to);
    QTest::keyClicks(Find<QLineEdit>(&window, "CCBox"), cc);
    QTest::keyClicks(Find<QLineEdit>(&window, "BCCBox"), bcc);
    QTest::keyClicks(Find<QLineEdit>(&window, "SubjectBox"), subject);
    Find<QPlainTextEdit>(&window, "MsgBox")->setPlainText(body);
  }
  void AttachFile(ComposeWindow& window, const std::string& path) {
    Find<QListWidget>(&window, "AttachBox")->addItem(QString::fromStdString(path));
  }
  void PressSend(ComposeWindow& window) {
    test::NoModalExpected no_box;
    QTest::mouseClick(Find<QPushButton>(&window, "SendButton"), Qt::LeftButton);
  }
  // Presses Send expecting the default error report; returns its text.
  QString PressSendExpectingError(ComposeWindow& window) {
    std::vector<SeenBox> seen;
    {
      ModalAnswerer answer;
      answer.Then(AnswerBox(&seen));
      PressSend(window);
    }
    EXPECT_EQ(seen.size(), 1u);
    if (seen.empty()) return {};
    EXPECT_EQ(seen[0].title, "TovrelMail");
    EXPECT_EQ(seen[0].icon, QMessageBox::Critical);
    return seen[0].text;
  }
  static QString Status(ComposeWindow& window) {
    return Find<QLabel>(&window, "SimplePanel")->text();
  }
  static void ExpectFieldsEmpty(ComposeWindow& window) {
    for (const char* field : {"ToBox", "CCBox", "BCCBox", "SubjectBox"}) {
      EXPECT_EQ(Find<QLineEdit>(&window, field)->text(), "") << field;
    }
    EXPECT_EQ(Find<QPlainTextEdit>(&window, "MsgBox")->toPlainText(), "");
    EXPECT_EQ(Find<QListWidget>(&window, "AttachBox")->count(), 0);
  }

  test::TempDir files_;
  net::SmtpClient smtp_;
};

TEST_F(SendCommandTest, DeliveryCarriesEveryFieldAndTwoAttachments) {
  AiosmtpdServer server({"jane", "s3cret"});
  const std::string binary = test::RandomBytes(70000, 11);
  const std::string text = "plain text attachment\r\n.leading dot\r\n";
  test::WriteFile(files_.File("data.bin"), binary);
  test::WriteFile(files_.File("notes.txt"), text);

  DeliverMail({.from = "Jane Q Doe,jd@example.org",
               .to = "ann@example.org, Bob <bob@example.org>",
               .cc = "carl@example.org",
               .bcc = "dora@example.org",
               .subject = "Quarterly figures",
               .body = {"Hello Ann,", ".a line starting with a dot", "", "regards"},
               .attachments = {files_.File("data.bin"), files_.File("notes.txt")}},
              LocalAccount(server.port(), "jane", "s3cret"), smtp_);

  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].mail_from, "jd@example.org");
  EXPECT_EQ(mails[0].rcpt_tos, (std::vector<std::string>{"ann@example.org", "bob@example.org",
                                                         "carl@example.org", "dora@example.org"}));
  EXPECT_EQ(mails[0].auth_user, "jane");
  const QJsonObject mail = JudgeMail(mails[0].data_path);
  EXPECT_EQ(mail["defects"].toInt(), 0);
  EXPECT_TRUE(mail["from"].toString().contains("Jane Q Doe"))
      << mail["from"].toString().toStdString();
  EXPECT_TRUE(mail["from"].toString().contains("<jd@example.org>"));
  EXPECT_TRUE(mail["to"].toString().contains("ann@example.org"));
  EXPECT_TRUE(mail["to"].toString().contains("bob@example.org"));
  EXPECT_TRUE(mail["cc"].toString().contains("carl@example.org"));
  EXPECT_TRUE(mail["bcc"].isNull());  // blind copies appear in the envelope only
  EXPECT_EQ(mail["subject"].toString(), "Quarterly figures");
  EXPECT_EQ(mail["content_type"].toString(), "multipart/mixed");
  EXPECT_EQ(mail["body"].toString(), "Hello Ann,\n.a line starting with a dot\n\nregards\n");
  const QJsonArray attachments = mail["attachments"].toArray();
  ASSERT_EQ(attachments.size(), 2);
  EXPECT_EQ(attachments[0]["filename"].toString(), "data.bin");
  EXPECT_EQ(attachments[0]["encoding"].toString(), "base64");
  EXPECT_EQ(attachments[0]["data_hex"].toString().toStdString(), test::ToHex(binary));
  EXPECT_EQ(attachments[1]["filename"].toString(), "notes.txt");
  EXPECT_EQ(attachments[1]["data_hex"].toString().toStdString(), test::ToHex(text));
}

// Each message has a Message-ID of its own in the sender's domain, unless the caller gave it
// one; attachments carry the types their names and contents give; domains beyond ASCII go out
// as their A-labels in the envelope and the header fields, and one without them is refused
// before the server hears of it.
TEST_F(SendCommandTest, MessageIdsAttachmentTypesAndDomainsBeyondAscii) {
  AiosmtpdServer server;
  const std::string text = "plain text\r\n";
  const std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  // The content speaks only for a name without an extension; a type that wider patterns give a
  // name stays its own among names of the same extension.
  // A text names the charset of its bytes when they are UTF-8 or ASCII (else none), also with a
  // character cut by the end of the first block read; the bytes go as they are.
  const std::string big_utf8 = std::string(65535, 'a') + "\u00FCber";
  const std::vector<std::array<std::string, 4>> files = {
      {"report.pdf", pdf, "application/pdf", ""},
      {"notes.txt", text, "text/plain", "us-ascii"},
      {"data.bin", pdf, "application/octet-stream", ""},
      {"report", pdf, "application/pdf", ""},
      {"old.gz", pdf, "application/gzip", ""},
      {"old.tar.gz", pdf, "application/x-compressed-tar", ""},
      {"gruesse.txt", "Gr\u00FC\u00DFe\n", "text/plain", "utf-8"},
      {"latin1.txt",
       "Gr\xFC\xDF"
       "e\n",
       "text/plain", ""},
      {"long.txt", big_utf8, "text/plain", "utf-8"}};
  ComposeFields fields{.from = "Doe, Jane,jd@b\u00FCcher.test", .to = "ann@B\u00FCcher.test"};
  for (const auto& [name, content, type, charset] : files) {
    test::WriteFile(files_.File(name), content);
    fields.attachments.push_back(files_.File(name));
  }
  DeliverMail(fields, LocalAccount(server.port()), smtp_);
  DeliverMail(fields, LocalAccount(server.port()), smtp_);
  fields.message_id = "<kept.1@example.org>";
  DeliverMail(fields, LocalAccount(server.port()), smtp_);
  try {
    DeliverMail({.from = "Jane,jd@example.org", .to = "ann@-b\u00FCcher.test"},
                LocalAccount(server.port()), smtp_);
    ADD_FAILURE() << "sent to a domain without A-labels";
  } catch (const SendSetupError& e) {
    EXPECT_EQ(e.what(), std::string("The recipient address ann@-b\u00FCcher.test is not valid"));
  }

  const auto mails = server.WaitForMessages(3);
  ASSERT_EQ(mails.size(), 3u);
  EXPECT_EQ(server.Commands().size(), 9u);  // the refused domain reached no server
  std::set<QString> ids;
  for (const auto& mail : mails) {
    EXPECT_EQ(mail.mail_from, "jd@xn--bcher-kva.test");
    EXPECT_EQ(mail.rcpt_tos, std::vector<std::string>{"ann@xn--bcher-kva.test"});
    const QJsonObject judged = JudgeMail(mail.data_path);
    EXPECT_EQ(judged["defects"].toInt(), 0);
    EXPECT_EQ(judged["from"].toString(), "\"Doe, Jane\" <jd@xn--bcher-kva.test>");
    EXPECT_EQ(judged["to"].toString(), "ann@xn--bcher-kva.test");
    const QJsonArray id = judged["message_ids"].toArray();
    ASSERT_EQ(id.size(), 1);
    ids.insert(id[0].toString());
    const QJsonArray attachments = judged["attachments"].toArray();
    ASSERT_EQ(attachments.size(), static_cast<qsizetype>(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(attachments[i]["content_type"].toString().toStdString(), files[i][2])
          << files[i][0];
      EXPECT_EQ(attachments[i]["charset"].toString().toStdString(), files[i][3]) << files[i][0];
      EXPECT_EQ(attachments[i]["data_hex"].toString().toStdString(), test::ToHex(files[i][1]))
          << files[i][0];
    }
    EXPECT_EQ(attachments[1]["encoding"].toString(), "base64");
  }
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_TRUE(ids.contains("<kept.1@example.org>"));
  for (const QString& id : ids) {
    if (id == "<kept.1@example.org>") continue;
    EXPECT_TRUE(QRegularExpression("^<[0-9a-f.]+@xn--bcher-kva\\.test>$").match(id).hasMatch())
        << id.toStdString();
  }
}

// Text typed in any language reaches the reader as typed: the subject as encoded words in the
// character set of the text, the body declared as such, with and without an attachment.
TEST_F(SendCommandTest, TextBeyondAsciiReadsBackAsTyped) {
  AiosmtpdServer server;
  const std::string subject = "Gr\u00FC\u00DFe aus K\u00F6ln \u2013 \u65E5\u672C";
  const std::vector<std::string> body = {"Liebe Gr\u00FC\u00DFe,", "J\u00FCrgen \u263A"};
  const std::string file = files_.File("notes.txt");
  test::WriteFile(file, "x");
  for (const bool with_attachment : {false, true}) {
    ComposeFields fields{.from = "J\u00FCrgen M\u00FCller,jm@example.org",
                         .to = "ann@example.org",
                         .subject = subject,
                         .body = body};
    if (with_attachment) fields.attachments.push_back(file);
    DeliverMail(fields, LocalAccount(server.port()), smtp_);
  }
  const auto mails = server.WaitForMessages(2);
  for (const auto& mail : mails) {
    const QJsonObject judged = JudgeMail(mail.data_path);
    EXPECT_EQ(judged["defects"].toInt(), 0);
    EXPECT_EQ(judged["subject_text"].toString().toStdString(), subject);
    EXPECT_EQ(judged["body_charset"].toString(), "utf-8");
    EXPECT_EQ(judged["body_text"].toString().toStdString(), body[0] + "\n" + body[1] + "\n");
    EXPECT_TRUE(judged["from"].toString().startsWith("=?UTF-8?")) << mail.data;
    EXPECT_EQ(RunPythonDecodedFrom(mail.data_path), "J\u00FCrgen M\u00FCller <jm@example.org>");
  }
}

TEST_F(SendCommandTest, AFailedSendKeepsTheFieldsAndARetrySendsEachFileOnce) {
  AiosmtpdServer server({"jane", "right"});
  StoreAccount("Jane", "jane@example.org");
  UseServer(server.port(), "jane", "wrong");
  test::WriteFile(files_.File("a.txt"), "first file\n");
  test::WriteFile(files_.File("b.bin"), test::RandomBytes(3000, 5));
  ComposeWindow window;
  window.show();
  ASSERT_TRUE(test::WaitFor([&] { return Find<QComboBox>(&window, "FromBox")->count() == 1; }));
  Fill(window, "ann@example.org", "", "", "Retry", "body");
  AttachFile(window, files_.File("a.txt"));
  AttachFile(window, files_.File("b.bin"));

  // The server refuses the password after the connection is up.
  const QString error = PressSendExpectingError(window);
  EXPECT_TRUE(error.startsWith("535")) << error.toStdString();
  EXPECT_TRUE(error.endsWith(".")) << error.toStdString();
  EXPECT_EQ(Status(window), "The email was not sent.");
  EXPECT_EQ(Find<QLineEdit>(&window, "ToBox")->text(), "ann@example.org");
  EXPECT_EQ(Find<QLineEdit>(&window, "SubjectBox")->text(), "Retry");
  EXPECT_EQ(Find<QPlainTextEdit>(&window, "MsgBox")->toPlainText(), "body");
  EXPECT_EQ(Find<QListWidget>(&window, "AttachBox")->count(), 2);
  test::SaveGrab(&window, "compose_window_failed");

  // Nothing reachable at all: the connect fails, the outbox is offered; No keeps the fields.
  UseServer(test::RefusedPort(), "jane", "right");
  std::vector<SeenBox> seen;
  {
    ModalAnswerer answer;
    answer.Then(AnswerBox(&seen, QMessageBox::No));
    PressSend(window);
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].text.startsWith("Socket Error # 10061")) << seen[0].text.toStdString();
  EXPECT_TRUE(seen[0].text.endsWith("Keep it in the outbox and send it later?"));
  EXPECT_EQ(Find<QListWidget>(&window, "AttachBox")->count(), 2);

  UseServer(server.port(), "jane", "right");
  Store("smtp", "sentcopy", "1");  // the window's sends keep their copy too
  PressSend(window);
  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].auth_user, "jane");
  const std::filesystem::directory_iterator copies(home_.data_folder() + "/Sent/cur");
  EXPECT_EQ(std::distance(copies, {}), 1);
  const QJsonObject mail = JudgeMail(mails[0].data_path);
  EXPECT_EQ(mail["defects"].toInt(), 0);
  const QJsonArray attachments = mail["attachments"].toArray();
  ASSERT_EQ(attachments.size(), 2);
  EXPECT_EQ(attachments[0]["filename"].toString(), "a.txt");
  EXPECT_EQ(attachments[1]["filename"].toString(), "b.bin");
  EXPECT_EQ(mail["content_type"].toString(), "multipart/mixed");
  ExpectFieldsEmpty(window);
  EXPECT_EQ(Status(window), "Email send!");
  EXPECT_EQ(Find<QComboBox>(&window, "FromBox")->currentText(), "Jane,jane@example.org");
  test::SaveGrab(&window, "compose_window_sent");
}

// Kept messages go out from the window: from File > Send Outbox, there while some wait (counted in
// the status bar), the fields the user's meanwhile; at a window's start; every ten minutes.
TEST_F(SendCommandTest, TheWindowSendsKeptMessagesAndCountsThem) {
  AiosmtpdServer server(AiosmtpdServer::Options{.data_delay_seconds = 1});
  StoreAccount("Jane", "jane@example.org");
  UseServer(test::RefusedPort());
  ComposeWindow window;
  window.show();
  ASSERT_TRUE(test::WaitFor([&] { return Find<QComboBox>(&window, "FromBox")->count() == 1; }));
  auto* count = Find<QLabel>(&window, "OutboxCount");
  auto* send_outbox = Find<QAction>(&window, "SendOutbox1");
  const auto keep = [&] {
    Fill(window, "ann@example.org", "", "", "S", "body");
    ModalAnswerer answer;
    answer.Then(AnswerBox(nullptr, QMessageBox::Yes));
    QTest::mouseClick(Find<QPushButton>(&window, "SendButton"), Qt::LeftButton);
  };
  keep();
  EXPECT_EQ(count->text(), "1 message in the outbox");
  EXPECT_TRUE(send_outbox->isEnabled());
  UseServer(server.port());
  bool fields_free = false;  // looked at during the send
  QTimer::singleShot(300, &window, [&] {
    fields_free = Find<QLineEdit>(&window, "ToBox")->isEnabled() && !send_outbox->isEnabled();
  });
  {
    test::NoModalExpected no_box;
    send_outbox->trigger();
  }
  EXPECT_EQ(server.Messages().size(), 1u);
  EXPECT_TRUE(fields_free);
  EXPECT_FALSE(count->isVisible());
  EXPECT_FALSE(send_outbox->isEnabled());
  EXPECT_EQ(Status(window), "The messages in the outbox were sent.");

  UseServer(test::RefusedPort());
  keep();
  UseServer(server.port());
  ComposeWindow second;
  second.show();
  EXPECT_TRUE(test::WaitFor([&] { return server.Messages().size() == 2; }, 30000));
  EXPECT_TRUE(Find<QTimer>(&second, "OutboxTimer")->isActive());
  EXPECT_EQ(Find<QTimer>(&second, "OutboxTimer")->interval(), 10 * 60 * 1000);
}

// A later round of a server that takes so many recipients at a time is refused: the window says
// who has the message and keeps the others in the fields (copies in To when To has no one left).
TEST_F(SendCommandTest, APartlySentMessageLeavesTheFieldsToTheRest) {
  test::LoopbackServer server({test::SmtpScript({"220 hi", "250 OK", "250 r", "250 s", "250 t",
                                                 "250 t", "452 4.5.3 too many", "354 go", "250 ok",
                                                 "250 s", "550 5.1.1 no such user"})});
  StoreAccount("Jane", "jane@example.org");
  UseServer(server.port());
  ComposeWindow window;
  window.show();
  ASSERT_TRUE(test::WaitFor([&] { return Find<QComboBox>(&window, "FromBox")->count() == 1; }));
  Fill(window, "Ann <ann@example.org>", "carl@example.org, erin@example.org", "dora@example.org",
       "Partly", "body");
  EXPECT_TRUE(PressSendExpectingError(window).startsWith(
      "Sent to 2 of 4 recipients; received by ann@example.org, carl@example.org; not sent to "
      "erin@example.org, dora@example.org: "));
  EXPECT_EQ(Status(window), "Sent to 2 of 4 recipients.");
  EXPECT_EQ(Find<QLineEdit>(&window, "ToBox")->text(), "erin@example.org");
  EXPECT_EQ(Find<QLineEdit>(&window, "CCBox")->text(), "");
  EXPECT_EQ(Find<QLineEdit>(&window, "BCCBox")->text(), "dora@example.org");
  server.Join();
}

TEST_F(SendCommandTest, AnEmptyToFieldIsRefusedWithoutTouchingAnything) {
  StoreAccount("Jane", "jane@example.org");
  Store("port", "port", "not read");
  ComposeWindow window;
  Fill(window, "", "carl@example.org", "", "Subject", "body");
  std::vector<SeenBox> seen;
  {
    ModalAnswerer answer;
    answer.Then(AnswerBox(&seen));
    PressSend(window);
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, " No recipient. Please fill in a email address in the To field  ");
  EXPECT_EQ(seen[0].title, "");
  EXPECT_EQ(Find<QLineEdit>(&window, "CCBox")->text(), "carl@example.org");
  EXPECT_EQ(Find<QLineEdit>(&window, "SubjectBox")->text(), "Subject");
  EXPECT_EQ(Status(window), "");
}

TEST_F(SendCommandTest, APortThatIsNotANumberStopsBeforeAnyConnection) {
  Account account = LocalAccount(0);
  account.port = "smtp";
  try {
    DeliverMail({.from = "Jane,jane@example.org", .to = "ann@example.org"}, account, smtp_);
    ADD_FAILURE() << "sent with port 'smtp'";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'smtp' is not a valid integer value");
  }
  EXPECT_FALSE(smtp_.IsConnected());
}

// What no send can do without fails before any name is looked up or any connection is made: a
// server never stored or stored empty, a port no system can dial, a From text without an address
// or with one that is no address (shown with control characters made harmless).
TEST_F(SendCommandTest, AMissingServerPortOrSenderStopsBeforeAnyLookup) {
  const std::string no_server = "No SMTP server is set. Please set the SMTP server in Settings";
  const std::string no_sender =
      "No sender address. Please choose a sender in the From field or set From Email in Settings";
  const std::string invalid = "The sender address in Settings is not valid: ";
  const struct {
    std::string server;
    std::string port;
    std::string from;
    std::string error;
  } cases[] = {
      {"", "25", "Jane,jane@example.org", no_server},
      {"127.0.0.1", "0", "Jane,jane@example.org", "'0' is not a valid integer value"},
      {"127.0.0.1", "-25", "Jane,jane@example.org", "'-25' is not a valid integer value"},
      {"127.0.0.1", "65536", "Jane,jane@example.org", "'65536' is not a valid integer value"},
      {"127.0.0.1", "", "", no_sender},
      {"127.0.0.1", "", "Jane,", no_sender},
      {"127.0.0.1", "", "None", invalid + "None"},
      {"127.0.0.1", "", "Jane,jane", invalid + "jane"},
      {"127.0.0.1", "", "Jane,jane@example.org> SIZE=1", invalid + "jane@example.org> SIZE=1"},
      {"127.0.0.1", "", "Jane,<jane@example.org>", invalid + "<jane@example.org>"},
      {"127.0.0.1", "", "Jane,ja\x1bne@example.org", invalid + VisibleText("ja\x1bne@example.org")},
  };
  const std::string refused = std::to_string(test::RefusedPort());
  for (const auto& c : cases) {
    const Account account{.smtp_server = c.server,
                          .port = c.port.empty() ? refused : c.port,
                          .user_name = "",
                          .password = ""};
    try {
      DeliverMail({.from = c.from, .to = "ann@example.org"}, account, smtp_);
      ADD_FAILURE() << "sent to '" << c.server << "' port " << c.port;
    } catch (const AppError& e) {
      EXPECT_EQ(e.what(), c.error);
    } catch (const std::exception& e) {
      ADD_FAILURE() << c.server << ":" << c.port << " from '" << c.from << "': " << e.what();
    }
    EXPECT_FALSE(smtp_.IsConnected());
  }
}

// Every To, CC and BCC address must be one mailbox before the server is dialled: the one that
// is not is named, made harmless, and the refused port is never reached (a valid one reaches
// it). The window shows the refusal in a box and keeps the fields.
TEST_F(SendCommandTest, ARecipientThatIsNoMailboxStopsTheSendBeforeAnyConnection) {
  const std::string label63(63, 'a');
  struct Case {
    ComposeFields fields;
    std::string shown;  // empty: valid
  };
  std::vector<Case> cases = {
      {{.to = "a.b+c@mail-1.example.org, x@y, ann@XN--BCHER-KVA.test"}, ""},
      {{.to = "j\u00F6rg@ab--cd.test", .cc = "ann@[192.0.2.1], ann@[IPv6:2001:db8::1]"}, ""},
      {{.to = "ann@" + label63 + ".test", .bcc = "ann@b\u00FCcher.test"}, ""},
      {{.to = "bob@example.net,not-an-address"}, "not-an-address"},
      {{.to = "ann@example.org", .cc = "-f/etc/passwd"}, "-f/etc/passwd"},
      {{.to = "ann@example.org", .bcc = "file:///etc/passwd"}, "file:///etc/passwd"},
      {{.to = "us\u202Eer@example.org"}, "us?er@example.org"},
      {{.to = "us\u2066er@example.org"}, "us?er@example.org"},
      {{.to = "ann@exa\u202Emple.org"}, "ann@exa?mple.org"},
      {{.to = "a\u0085b@example.org"}, "a?b@example.org"},
  };
  // Shown as typed (the last one 255 octets long).
  for (const std::string& to : std::vector<std::string>{
           "a@b@example.org", "user\uFF20example.org", "user@xn--zz.test", "user@-bad-.test",
           "@example.org", "user@example..org", "user@exa_mple.org", "user@[300.1.1.1]",
           "user@[2001:db8::1]", "user@" + label63 + "a.test",
           "u@" + label63 + "." + label63 + "." + label63 + "." + label63}) {
    cases.push_back({{.to = to}, to});
  }
  const Account account = LocalAccount(test::RefusedPort());
  for (auto c : cases) {
    c.fields.from = "Jane,jane@example.org";
    try {
      DeliverMail(c.fields, account, smtp_);
      ADD_FAILURE() << "sent to " << c.fields.to;
    } catch (const SendSetupError& e) {
      EXPECT_EQ(e.what(), "The recipient address " + c.shown + " is not valid");
    } catch (const net::SocketError&) {
      EXPECT_EQ(c.shown, "") << c.fields.to;
    }
    EXPECT_FALSE(smtp_.IsConnected());
  }
  StoreAccount("Jane", "jane@example.org");
  UseServer(test::RefusedPort());
  ComposeWindow window;
  Fill(window, "ann@example.org", "x@y@z", "", "Kept", "body");
  EXPECT_EQ(PressSendExpectingError(window), "The recipient address x@y@z is not valid.");
  EXPECT_EQ(Find<QLineEdit>(&window, "CCBox")->text(), "x@y@z");
  EXPECT_EQ(Find<QLineEdit>(&window, "SubjectBox")->text(), "Kept");
}

TEST_F(SendCommandTest, BlankToAndTwoSendsInARowWithoutLogin) {
  AiosmtpdServer server;
  const Account account = LocalAccount(server.port(), "", "a password that is not used");
  // Blanks are not an empty field: the send goes on, here with the copy recipients only.
  DeliverMail({.from = "Jane,jane@example.org",
               .to = "   ",
               .cc = "x@example.org,y@example.org",
               .subject = "First",
               .body = {"one"}},
              account, smtp_);
  DeliverMail({.from = "Jane,jane@example.org",
               .to = "z@example.org",
               .subject = "Second",
               .body = {"two"}},
              account, smtp_);
  const auto mails = server.WaitForMessages(2);
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].rcpt_tos, (std::vector<std::string>{"x@example.org", "y@example.org"}));
  EXPECT_EQ(mails[1].rcpt_tos, std::vector<std::string>{"z@example.org"});
  for (const auto& mail : mails) {
    EXPECT_EQ(mail.mail_from, "jane@example.org");
    EXPECT_EQ(mail.auth_user, "");
  }
  const QJsonObject second = JudgeMail(mails[1].data_path);
  EXPECT_TRUE(second["cc"].isNull());  // the first send's copies are gone
  EXPECT_EQ(second["subject"].toString(), "Second");
  EXPECT_EQ(second["body"].toString(), "two\n");
}

// An empty stored password keeps the one of the earlier send only for the server, port and
// user it was given for: changed in Settings, no AUTH goes out, and the server wanting a login
// refuses MAIL (530) rather than the old password (535).
TEST_F(SendCommandTest, AnEarlierPasswordIsKeptOnlyForItsServerPortAndUser) {
  AiosmtpdServer first({.user = "jane", .password = "pw"});
  AiosmtpdServer second({.user = "jane", .password = "pw"});
  Account other_server = LocalAccount(first.port(), "jane");
  other_server.smtp_server = "localhost";
  const std::pair<Account, bool> cases[] = {{LocalAccount(first.port(), "jane"), true},
                                            {LocalAccount(second.port(), "jane"), false},
                                            {LocalAccount(first.port(), "joe"), false},
                                            {other_server, false}};
  const ComposeFields fields{.from = "Jane,jane@example.org", .to = "ann@example.org"};
  for (const auto& [account, kept] : cases) {
    net::SmtpClient smtp;
    DeliverMail(fields, LocalAccount(first.port(), "jane", "pw"), smtp);
    try {
      DeliverMail(fields, account, smtp);
      EXPECT_TRUE(kept) << account.smtp_server << ":" << account.port << " " << account.user_name;
    } catch (const net::ProtocolReplyError& e) {
      EXPECT_FALSE(kept);
      EXPECT_EQ(e.reply_code(), 530) << e.what();
    }
  }
}

TEST_F(SendCommandTest, AMissingUserNameValueIsNoLogin) {
  AiosmtpdServer server;
  Store("smtp", "smtp", "127.0.0.1");
  Store("port", "port", std::to_string(server.port()));
  Store("password", "password", "pw");  // "username" is never written
  DeliverMail({.from = "Jane,jane@example.org", .to = "ann@example.org", .body = {"b"}},
              ReadAccount(store_, ProgramKeyring()), smtp_);
  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].auth_user, "");
}

// Security as the store holds it: only the two exact words ask for TLS, only "0" turns the
// certificate check off.
TEST_F(SendCommandTest, StoredSecurityAndCertificateCheckAreReadExactly) {
  using net::CertificateCheck;
  using net::TlsMode;
  const struct {
    const char* security;
    const char* verify;
    TlsMode mode;
    CertificateCheck check;
  } cases[] = {
      {"starttls", "0", TlsMode::tmStartTls, CertificateCheck::ccNone},
      {"tls", "1", TlsMode::tmImplicit, CertificateCheck::ccVerify},
      {"", "", TlsMode::tmNone, CertificateCheck::ccVerify},
      {"STARTTLS", "00", TlsMode::tmNone, CertificateCheck::ccVerify},
      {"ssl", "no", TlsMode::tmNone, CertificateCheck::ccVerify},
      {"tls ", "0", TlsMode::tmNone, CertificateCheck::ccNone},
  };
  for (const auto& c : cases) {
    Store("smtp", "security", c.security);
    Store("smtp", "tlsverify", c.verify);
    const Account account = ReadAccount(store_, ProgramKeyring());
    EXPECT_EQ(account.security, c.mode) << c.security;
    EXPECT_EQ(account.certificate_check, c.check) << c.verify;
  }
}

// Every send sets the client up afresh: a server without STARTTLS gets the message while the
// store asks for no security, is told nothing while it asks for STARTTLS, and gets the next
// message once the store no longer asks.
TEST_F(SendCommandTest, StartTlsToAServerWithoutItFailsBetweenPlainSends) {
  AiosmtpdServer server;
  UseServer(server.port());
  const ComposeFields fields{.from = "Jane,jane@example.org", .to = "ann@example.org"};
  // Nothing stored: plain, checks on.
  DeliverMail(fields, ReadAccount(store_, ProgramKeyring()), smtp_);
  EXPECT_EQ(server.WaitForMessages(1).size(), 1u);

  Store("smtp", "security", "starttls");
  Store("smtp", "tlsverify", "0");
  try {
    DeliverMail(fields, ReadAccount(store_, ProgramKeyring()), smtp_);
    ADD_FAILURE() << "sent without STARTTLS";
  } catch (const net::TlsError& e) {
    EXPECT_STREQ(e.what(),
                 "TLS: 127.0.0.1 does not offer STARTTLS; nothing was sent (set Security to None "
                 "to send without TLS)");
  }
  EXPECT_EQ(smtp_.certificate_check(), net::CertificateCheck::ccNone);
  EXPECT_FALSE(smtp_.IsConnected());

  Store("smtp", "security", "");
  Store("smtp", "tlsverify", "1");
  DeliverMail(fields, ReadAccount(store_, ProgramKeyring()), smtp_);
  EXPECT_EQ(server.WaitForMessages(2).size(), 2u);
  EXPECT_EQ(smtp_.tls_mode(), net::TlsMode::tmNone);
  EXPECT_EQ(smtp_.certificate_check(), net::CertificateCheck::ccVerify);
  EXPECT_EQ(server.Commands(),
            (std::vector<std::string>{"MAIL", "RCPT", "DATA", "MAIL", "RCPT", "DATA"}));
}

}  // namespace
}  // namespace tovrel::app
