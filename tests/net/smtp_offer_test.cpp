// What the server offers and answers shapes the dialogue: the EHLO name, SIZE, SMTPUTF8, login
// mechanisms, whole refusals, recipients it forwards or defers.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <tuple>

#include "net/net_errors.h"
#include "net/reply_reader.h"
#include "net/smtp_client.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tovrel::net {
namespace {

using test::LoopbackServer;
using test::SmtpScript;

const std::string kJoerg = "j\xC3\xB6rg@example.test";

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, '|');) items.push_back(item);
  return items;
}

// The lines a client wrote, without the message texts.
std::vector<std::string> CommandLines(const std::string& wire) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = wire.find("\r\n", at)) != std::string::npos; at = end + 2) {
    lines.push_back(wire.substr(at, end - at));
    // A text never ended shows as the lines sent after "Data", if any.
    const size_t text_end = lines.back() == "Data" ? wire.find("\r\n.\r\n", end) : wire.npos;
    if (text_end != wire.npos) end = text_end;
  }
  return lines;
}

TEST(SmtpOffer, HelloNameAndShownReply) {
  EXPECT_EQ(HelloName("vm", "127.0.0.1"), "[127.0.0.1]");
  EXPECT_EQ(HelloName("vm", "::1"), "[IPv6:::1]");
  EXPECT_EQ(HelloName("vm.example.test", "127.0.0.1"), "vm.example.test");
  // Capped, and cut at a character, never inside one.
  EXPECT_EQ(ReplyReader::Shown({std::string(1996, 'x') + "\xC3\xB6zzzz"}),
            std::string(1996, 'x') + "...");
}

TEST(SmtpOffer, DialogueFollowsTheOfferAndTheReplies) {
  const std::string rest = "250 r|250 s|250 t|354 go|250 ok";
  const std::string mail = "Rset|Mail from:<a@b.c>";
  const std::string sent = "RCPT to:<d@e.f>|Data|.|Quit";
  const std::string grouped = "<group>250 r\r\n250 s\r\n250 t\r\n";
  struct Row {
    std::string script;  // after the greeting
    std::string lines;   // after the EHLO; "SIZE=n" is the message's size
    std::function<void(message::Message&)> set_up = [](message::Message&) {};
    std::string error{};
    int code = 0;  // of a ProtocolReplyError; 0 for a ServerCapabilityError
    // Who has it after ("-": all if sent, none if not); whether the end of data went unanswered.
    std::string served = "-";
    bool unanswered = false;
  };
  const std::vector<Row> rows = {
      {"250-mx\r\n250 SIZE 1000000|" + rest, mail + " SIZE=n|" + sent},
      {"250-mx\r\n250 SIZE 1000000", "Quit",
       [](message::Message& m) { m.body() = message::StringList(15000, std::string(99, 'x')); },
       "The message is 1.6 MB, larger than the 1.0 MB the server accepts; nothing was sent"},
      {"250 OK|250 r|250 s|251 User not local; will forward|354 go|250 ok", mail + "|" + sent},
      {"250 OK|250 r|250 s|250 t|452 4.5.3 Error: too many recipients|354 go|250 ok|250 s|250 t|"
       "452 4.5.3 too many|354 go|250 ok|250 s|250 t|250 u|354 go|250 ok",
       mail + "|RCPT to:<d@e.f>|RCPT to:<e@e.f>|Data|.|Mail from:<a@b.c>|RCPT to:<e@e.f>|RCPT "
              "to:<f@e.f>|Data|.|Mail from:<a@b.c>|RCPT to:<f@e.f>|RCPT to:<g@e.f>|Data|.|Quit",
       [](message::Message& m) {
         m.recipients().AddItem().set_address("e@e.f");
         m.cc_list().AddItem().set_address("f@e.f");
         m.bcc_list().AddItem().set_address("g@e.f");
       }},
      // A later round refused: the first one's recipients have the message all the same.
      {"250 OK|250 r|250 s|250 t|452 4.5.3 too many|354 go|250 ok|250 s|450 4.2.0 busy",
       mail + "|RCPT to:<d@e.f>|RCPT to:<e@e.f>|Data|.|Mail from:<a@b.c>|RCPT to:<e@e.f>|Quit",
       [](message::Message& m) { m.recipients().AddItem().set_address("e@e.f"); },
       "The server refused the recipient e@e.f: 450 4.2.0 busy", 450, "d@e.f"},
      // No reply to the end of the data: the server may have the message, or not.
      {"250 OK|250 r|250 s|250 t|354 go|<close>", mail + "|RCPT to:<d@e.f>|Data|.",
       [](message::Message&) {}, "Connection Closed Gracefully.", 0, "", true},
      {"250 OK|250 r|250 s|452 4.5.3 too many", mail + "|RCPT to:<d@e.f>|Quit",
       [](message::Message&) {}, "The server refused the recipient d@e.f: 452 4.5.3 too many", 452},
      // With PIPELINING the login goes alone, then RSET to DATA in one group.
      {"250-mx\r\n250-AUTH LOGIN\r\n250 PIPELINING|334 VXNlcg==|334 UGFzcw==|235 in|" + grouped +
           "354 go|250 ok",
       "auth LOGIN|||" + mail + "|" + sent},
      {"250-mx\r\n250 PIPELINING|<group>250 r\r\n550 refused\r\n503 no MAIL\r\n503 no MAIL",
       mail + "|RCPT to:<d@e.f>|Data|Quit", [](message::Message&) {}, "550 refused", 550},
      // DATA taken after a recipient was refused: closed without a byte of the text.
      {"250-mx\r\n250 PIPELINING|" + grouped + "550 no such user\r\n354 go",
       mail + "|RCPT to:<d@e.f>|RCPT to:<e@e.f>|Data",
       [](message::Message& m) { m.recipients().AddItem().set_address("e@e.f"); },
       "The server refused the recipient e@e.f: 550 no such user", 550},
      {"250-mx\r\n250 PIPELINING|" + grouped + "250 u\r\n452 too many\r\n354 go|250 ok|" +
           "<group>250 s\r\n250 t\r\n354 go|250 ok",
       mail + "|RCPT to:<d@e.f>|RCPT to:<e@e.f>|RCPT to:<f@e.f>|Data|.|Mail from:<a@b.c>|RCPT "
              "to:<f@e.f>|Data|.|Quit",
       [](message::Message& m) {
         m.recipients().AddItem().set_address("e@e.f");
         m.cc_list().AddItem().set_address("f@e.f");
       }},
      {"250-mx\r\n250 AUTH CRAM-MD5", "Quit", [](message::Message&) {},
       "The server offers no login method TovrelMail supports (offered: CRAM-MD5)"},
      {"250-mx\r\n250 SMTPUTF8|" + rest,
       mail + " BODY=8BITMIME SMTPUTF8|RCPT to:<" + kJoerg + ">|Data|.|Quit",
       [](message::Message& m) { m.recipients()[0].set_address(kJoerg); }},
      {"250-mx\r\n250 SMTPUTF8|" + rest, mail + "|" + sent},
      {"250-mx\r\n250 8BITMIME", "Quit", [](message::Message& m) { m.from().set_address(kJoerg); },
       "The server does not accept the address " + kJoerg + " (it needs SMTPUTF8)"},
  };
  std::vector<LoopbackServer::Session> sessions;
  for (const Row& row : rows) sessions.push_back(SmtpScript(Split("220 hi|" + row.script)));
  LoopbackServer server(sessions);
  std::vector<std::string> expected;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.script);
    SmtpClient client;
    // A server without AUTH still takes mail from a client set to log in.
    client.set_authentication_type(AuthenticationType::atLogin);
    message::Message message;
    message.from().set_address("a@b.c");
    message.recipients().AddItem().set_address("d@e.f");
    message.body() = {"Hello"};
    row.set_up(message);
    client.set_host("127.0.0.1");
    client.set_port(server.port());
    const std::string size =
        std::to_string(client.MessageSize(message, "", client.LayOutBody(message)));
    expected.push_back("ehlo " + HelloName(client.LocalHostName(), "127.0.0.1") + "|" + row.lines);
    if (size_t at = expected.back().find("SIZE=n"); at != std::string::npos)
      expected.back().replace(at + 5, 1, size);
    try {
      client.Connect();
      client.Send(message);
      EXPECT_EQ(row.error, "");
    } catch (const message::NetError& error) {
      const auto* reply = dynamic_cast<const ProtocolReplyError*>(&error);
      EXPECT_TRUE(reply || dynamic_cast<const ServerCapabilityError*>(&error) ||
                  dynamic_cast<const ConnClosedGracefully*>(&error))
          << error.what();
      EXPECT_EQ(error.what() + std::to_string(reply ? reply->reply_code() : 0),
                row.error + std::to_string(row.code));
    }
    EXPECT_EQ(client.delivery().Served(), row.served != "-"   ? Split(row.served)
                                          : row.error.empty() ? client.delivery().recipients
                                                              : std::vector<std::string>{});
    EXPECT_EQ(client.delivery().end_unanswered, row.unanswered);
    client.Disconnect();
  }
  const std::vector<std::string> wires = server.Join();
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(CommandLines(wires[i]), Split(expected[i]));
  // The Bcc address only ever in its RCPT.
  EXPECT_EQ(wires[3].find("g@e.f"), wires[3].rfind("g@e.f"));
}

// A kept message goes out in CR LF lines whatever its file has, dot-stuffed, its SIZE what goes on
// the wire.
TEST(SmtpOffer, AStoredTextGoesOutInWireLinesOfTheSizeOffered) {
  const std::pair<std::string, std::string> cases[] = {
      // as stored, as on the wire
      {"S: a\n\n.b\nc\n", "S: a\r\n\r\n..b\r\nc\r\n"},
      {"S: a\r\r.x\r", "S: a\r\n\r\n..x\r\n"},
      {"", ""}};
  const test::TempDir dir;
  for (const auto& [stored, wire] : cases) {
    LoopbackServer server(
        {SmtpScript(Split("220 hi|250-mx\r\n250 SIZE|250 r|250 s|250 t|354 go|250 ok"))});
    test::WriteFile(dir.File("kept.msg"), stored);
    SmtpClient client;
    client.set_host("127.0.0.1");
    client.set_port(server.port());
    client.Connect();
    client.SendRaw({"a@b.c", {"d@e.f"}}, dir.File("kept.msg"));
    client.Disconnect();
    const std::string seen = server.Join()[0];
    EXPECT_NE(seen.find(" SIZE=" + std::to_string(wire.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(seen.substr(seen.find("Data\r\n") + 6), wire + ".\r\nQuit\r\n");
  }
}

TEST(SmtpOffer, RealServerWithPipeliningDeliversNothingWhenARecipientIsRefused) {
  test::AiosmtpdServer server({.pipelining = true});
  for (const std::string second : {"unknown@example.org", "carol@example.org"}) {
    SmtpClient client;
    client.set_host("127.0.0.1");
    client.set_port(server.port());
    client.Connect();
    message::Message message;
    message.from().set_address("alice@example.org");
    message.recipients().AddItem().set_address("bob@example.org");
    message.recipients().AddItem().set_address(second);
    try {
      client.Send(message);
      EXPECT_EQ(second, "carol@example.org");
    } catch (const ProtocolReplyError& error) {
      EXPECT_EQ(std::string(error.what()),
                "The server refused the recipient unknown@example.org: 550 5.1.1 No such user");
    }
    client.Disconnect();
  }
  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].rcpt_tos, (std::vector<std::string>{"bob@example.org", "carol@example.org"}));
}

// A server that expects TLS from the first byte says nothing to a plain connect.
TEST(SmtpOffer, NoGreetingOnTheImplicitTlsPortSuggestsSslTls) {
  std::unique_ptr<LoopbackServer> server;
  try {
    server = std::make_unique<LoopbackServer>(
        std::vector<LoopbackServer::Session>{SmtpScript({"<close>"})},
        SmtpClient::kImplicitTlsPort);
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "port 465 cannot be had here";
  }
  SmtpClient client;
  client.set_host("127.0.0.1");
  client.set_port(SmtpClient::kImplicitTlsPort);
  try {
    client.Connect();
    ADD_FAILURE() << "no exception";
  } catch (const TlsExpected& error) {
    EXPECT_STREQ(
        error.what(),
        "Connection Closed Gracefully.\r\nThe server may expect SSL/TLS (Security in Settings)");
    EXPECT_FALSE(IsTemporaryFailure(error));  // a setting to change: not kept, not retried
  }
  server->Join();
}

// On the port of implicit TLS a greeting in the clear is awaited 20 s at most; elsewhere, or
// with SSL/TLS, as long as the greeting limit says.
TEST(SmtpOffer, TheImplicitTlsPortWaitsBrieflyForAGreetingInTheClear) {
  const std::tuple<int, TlsMode, WaitLimit, WaitLimit> rows[] = {
      {465, TlsMode::tmNone, SmtpClient::kGreetingTimeout, 20000},
      {465, TlsMode::tmStartTls, kWaitForever, 20000},
      {465, TlsMode::tmNone, 5000, 5000},
      {465, TlsMode::tmImplicit, kWaitForever, kWaitForever},
      {25, TlsMode::tmNone, kWaitForever, kWaitForever}};
  for (const auto& [port, mode, set, used] : rows) {
    SmtpClient client;
    client.set_port(port);
    client.set_tls_mode(mode);
    client.set_greeting_timeout(set);
    EXPECT_TRUE(client.greeting_wait() == used) << port << " " << static_cast<int>(mode);
  }
}

// A TLS record where the greeting was due (an alert, or only the first byte of a hand-shake
// record) is recognised at once, without waiting for a line that never comes.
TEST(SmtpOffer, ATlsRecordInPlaceOfTheGreetingIsASettingError) {
  LoopbackServer server({SmtpScript({std::string("<raw>\x15\x03\x03\x00\x02\x02\x46", 12)}),
                         SmtpScript({"<raw>\x16"}, true)});
  for (const TlsMode mode : {TlsMode::tmNone, TlsMode::tmStartTls}) {
    SmtpClient client;
    client.set_host("127.0.0.1");
    client.set_port(server.port());
    client.set_tls_mode(mode);
    client.set_greeting_timeout(10000);  // a client that waited for a line would fail
    try {
      client.Connect();
      ADD_FAILURE() << "connected";
    } catch (const TlsExpected& error) {
      EXPECT_STREQ(error.what(), "The server speaks TLS on this port: choose SSL/TLS in Settings");
      EXPECT_FALSE(IsTemporaryFailure(error));
    }
  }
  for (const std::string& wire : server.Join()) EXPECT_EQ(wire, "");
}

TEST(SmtpOffer, RealServerTakesSizeAndAnAddressBeyondAscii) {
  test::AiosmtpdServer server({.size_limit = 10000000, .smtputf8 = true});
  SmtpClient client;
  client.set_host("127.0.0.1");
  client.set_port(server.port());
  client.Connect();
  message::Message message;
  message.from().set_address("alice@example.org");
  message.recipients().AddItem().set_address(kJoerg);
  client.Send(message);
  client.Disconnect();
  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].rcpt_tos, std::vector<std::string>{kJoerg});
  EXPECT_NE(mails[0].data.find("\r\nTo: " + kJoerg + "\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tovrel::net
