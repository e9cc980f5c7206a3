// What the server offers and answers shapes the dialogue: the EHLO name, SIZE, SMTPUTF8, login
// mechanisms, whole refusals, recipients it forwards or defers.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "net/loopback_server.h"
#include "net/net_errors.h"
#include "net/reply_reader.h"
#include "net/smtp_client.h"
#include "support/test_support.h"

namespace tovrel::net {
namespace {

using test::LoopbackServer;
using test::SmtpScript;

const std::string kJoerg = "j\xC3\xB6rg@example.test";

TEST(SmtpOffer, HelloNameIsQualifiedOrAnAddressLiteral) {
  EXPECT_EQ(HelloName("vm", "127.0.0.1"), "[127.0.0.1]");
  EXPECT_EQ(HelloName("vm", "::1"), "[IPv6:::1]");
  EXPECT_EQ(HelloName("vm", "::ffff:192.0.2.7"), "[192.0.2.7]");
  EXPECT_EQ(HelloName("vm", "fe80::1%eth0"), "[IPv6:fe80::1]");
  EXPECT_EQ(HelloName("vm.example.test", "127.0.0.1"), "vm.example.test");
}

TEST(SmtpOffer, ShownReplyJoinsCleansAndCaps) {
  EXPECT_EQ(ReplyReader::Shown({"550-5.1.1 no such\x1B[2J user", "550 5.1.1 see\x07 help"}),
            "550-5.1.1 no such?[2J user 550 5.1.1 see? help");
  // Cut at a character, never inside one.
  const std::string shown = ReplyReader::Shown({"550 " + std::string(1995, 'x') + "\xC3\xB6 more"});
  EXPECT_EQ(shown, "550 " + std::string(1993, 'x') + "...");
  EXPECT_EQ(ReplyReader::Shown(std::vector<std::string>(40, std::string(100, 'y'))).size(),
            ReplyReader::kMaxShownLength);
}

// The command lines of a wire, the message texts left out and a SIZE= equal to the size of the
// first text written "SIZE=n".
std::vector<std::string> CommandLines(const std::string& wire) {
  std::vector<std::string> lines;
  std::istringstream in(wire);
  bool in_text = false;
  size_t text_size = 0;
  for (std::string line; std::getline(in, line);) {
    const bool end = line == ".\r";
    if (in_text && !end && lines.back() == "Data") text_size += line.size() + 1;
    if (!in_text || end) lines.push_back(line.substr(0, line.size() - 1));
    in_text = (in_text && !end) || line == "Data\r";
  }
  const std::string size = " SIZE=" + std::to_string(text_size);
  for (std::string& line : lines) {
    if (line.ends_with(size)) line.replace(line.size() - size.size(), size.size(), " SIZE=n");
  }
  return lines;
}

TEST(SmtpOffer, DialogueFollowsTheOfferAndTheReplies) {
  SmtpClient probe;
  const std::string ehlo = "ehlo " + HelloName(probe.LocalHostName(), "127.0.0.1");
  const std::string mail = "Mail from:<a@b.c>";
  const std::string rcpt = "RCPT to:<d@e.f>";
  struct Row {
    std::string name;
    std::vector<std::string> script;  // after the greeting
    std::function<void(SmtpClient&, message::Message&)> set_up;
    std::vector<std::string> lines;  // after the EHLO
    std::string error{};
    int code = 0;  // of a ProtocolReplyError; 0 for a ServerCapabilityError
  };
  const auto none = [](SmtpClient&, message::Message&) {};
  const std::vector<Row> rows = {
      {"HELO with the same name",
       {"504 5.5.2 need fully-qualified hostname", "250 hi", "250 r", "250 s", "250 t", "354 go",
        "250 ok"},
       none,
       {"Helo" + ehlo.substr(4), "Rset", mail, rcpt, "Data", ".", "Quit"}},
      {"SIZE announced: the exact text size on MAIL",
       {"250-mx\r\n250-SIZE 1000000\r\n250 OK", "250 r", "250 s", "250 t", "354 go", "250 ok"},
       none,
       {"Rset", mail + " SIZE=n", rcpt, "Data", ".", "Quit"}},
      {"message larger than the SIZE limit",
       {"250-mx\r\n250-SIZE 1000000\r\n250 OK"},
       [](SmtpClient&, message::Message& m) {
         m.body() = message::StringList(15000, std::string(99, 'x'));
       },
       {"Quit"},
       "The message is 1.6 MB, larger than the 1.0 MB the server accepts; nothing was sent"},
      {"every line of a refused recipient, with its address",
       {"250 OK", "250 r", "250 s",
        "550-5.1.1 The email account that you tried to reach does not exist.\r\n550 5.1.1 Try "
        "again."},
       none,
       {"Rset", mail, rcpt, "Quit"},
       "The server refused the recipient d@e.f: 550-5.1.1 The email account that you tried to "
       "reach does not exist. 550 5.1.1 Try again.",
       550},
      {"a temporary refusal of several lines keeps its code",
       {"250 OK", "250 r", "451-4.7.1 greylisted\r\n451 4.7.1 come back later"},
       none,
       {"Rset", mail, "Quit"},
       "451-4.7.1 greylisted 451 4.7.1 come back later",
       451},
      {"251 forwards",
       {"250 OK", "250 r", "250 s", "250 t", "251 User not local; will forward", "354 go",
        "250 ok"},
       [](SmtpClient&, message::Message& m) { m.cc_list().AddItem().set_address("f@g.h"); },
       {"Rset", mail, rcpt, "RCPT to:<f@g.h>", "Data", ".", "Quit"}},
      {"452 after accepted recipients: the rest in a new transaction",
       {"250 OK", "250 r", "250 s", "250 t", "452 4.5.3 Error: too many recipients", "354 go",
        "250 ok", "250 s", "250 t", "452 4.5.3 too many", "354 go", "250 ok", "250 s", "250 t",
        "250 u", "354 go", "250 ok"},
       [](SmtpClient&, message::Message& m) {
         m.recipients().AddItem().set_address("e@e.f");
         m.cc_list().AddItem().set_address("f@e.f");
         m.bcc_list().AddItem().set_address("g@e.f");
       },
       {"Rset", mail, rcpt, "RCPT to:<e@e.f>", "Data", ".", mail, "RCPT to:<e@e.f>",
        "RCPT to:<f@e.f>", "Data", ".", mail, "RCPT to:<f@e.f>", "RCPT to:<g@e.f>", "Data", ".",
        "Quit"}},
      {"452 to the first recipient",
       {"250 OK", "250 r", "250 s", "452 4.5.3 Error: too many recipients"},
       none,
       {"Rset", mail, rcpt, "Quit"},
       "The server refused the recipient d@e.f: 452 4.5.3 Error: too many recipients",
       452},
      {"a login but no mechanism in common",
       {"250-mx\r\n250-AUTH CRAM-MD5\r\n250 OK"},
       [](SmtpClient& c, message::Message&) {
         c.set_authentication_type(AuthenticationType::atLogin);
       },
       {"Quit"},
       "The server offers no login method TovrelMail supports (offered: CRAM-MD5)"},
      {"address beyond ASCII with SMTPUTF8",
       {"250-mx\r\n250-SMTPUTF8\r\n250 OK", "250 r", "250 s", "250 t", "354 go", "250 ok"},
       [](SmtpClient&, message::Message& m) { m.recipients()[0].set_address(kJoerg); },
       {"Rset", mail + " BODY=8BITMIME SMTPUTF8", "RCPT to:<" + kJoerg + ">", "Data", ".", "Quit"}},
      {"ASCII addresses to a server with SMTPUTF8",
       {"250-mx\r\n250-SMTPUTF8\r\n250 OK", "250 r", "250 s", "250 t", "354 go", "250 ok"},
       none,
       {"Rset", mail, rcpt, "Data", ".", "Quit"}},
      {"address beyond ASCII without SMTPUTF8",
       {"250-mx\r\n250-8BITMIME\r\n250 OK"},
       [](SmtpClient&, message::Message& m) { m.from().set_address(kJoerg); },
       {"Quit"},
       "The server does not accept the address " + kJoerg + " (it needs SMTPUTF8)"},
  };
  std::vector<LoopbackServer::Session> sessions;
  for (const Row& row : rows) {
    std::vector<std::string> script = {"220 hi"};
    script.insert(script.end(), row.script.begin(), row.script.end());
    sessions.push_back(SmtpScript(script));
  }
  LoopbackServer server(sessions);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SmtpClient client;
    message::Message message;
    message.from().set_address("a@b.c");
    message.recipients().AddItem().set_address("d@e.f");
    message.body() = {"Hello"};
    row.set_up(client, message);
    client.set_host("127.0.0.1");
    client.set_port(server.port());
    try {
      client.Connect();
      client.Send(message);
      EXPECT_EQ(row.error, "");
    } catch (const ProtocolReplyError& error) {
      EXPECT_EQ(error.what(), row.error);
      EXPECT_EQ(error.reply_code(), row.code);
    } catch (const ServerCapabilityError& error) {
      EXPECT_EQ(error.what(), row.error);
      EXPECT_EQ(row.code, 0);
    }
    client.Disconnect();
  }
  const std::vector<std::string> wires = server.Join();
  for (size_t i = 0; i < rows.size(); ++i) {
    std::vector<std::string> expected = {ehlo};
    expected.insert(expected.end(), rows[i].lines.begin(), rows[i].lines.end());
    EXPECT_EQ(CommandLines(wires[i]), expected) << rows[i].name;
  }
  // Each transaction carries the whole text, never the Bcc address.
  const std::string& split = wires[6];
  size_t texts = 0;
  for (size_t at = split.find("Data\r\n"); at != std::string::npos;
       at = split.find("Data\r\n", at + 1)) {
    const std::string text = split.substr(at, split.find("\r\n.\r\n", at) - at);
    EXPECT_NE(text.find("\r\nTo: d@e.f, e@e.f\r\nCc: f@e.f\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("g@e.f"), std::string::npos);
    EXPECT_TRUE(text.ends_with("\r\n\r\nHello")) << text;
    ++texts;
  }
  EXPECT_EQ(texts, 3u);
}

// A server that expects TLS from the first byte says nothing to a plain connect.
TEST(SmtpOffer, NoGreetingOnTheImplicitTlsPortSuggestsSslTls) {
  std::unique_ptr<LoopbackServer> server;
  try {
    server = std::make_unique<LoopbackServer>(
        std::vector<LoopbackServer::Session>{SmtpScript({"<silent>"}), SmtpScript({"<close>"})},
        SmtpClient::kImplicitTlsPort);
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "port 465 cannot be had here";
  }
  const std::string hint = "\r\nThe server may expect SSL/TLS (Security in Settings)";
  SmtpClient client;
  client.set_host("127.0.0.1");
  client.set_port(SmtpClient::kImplicitTlsPort);
  client.set_tls_mode(TlsMode::tmStartTls);
  client.set_greeting_timeout(150);
  try {
    client.Connect();
    ADD_FAILURE() << "no exception";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.error_number(), 10060);
    EXPECT_EQ(error.what(), "Socket Error # 10060\r\nConnection timed out." + hint);
  }
  try {
    client.Connect();
    ADD_FAILURE() << "no exception";
  } catch (const ConnClosedGracefully& error) {
    EXPECT_EQ(error.what(), "Connection Closed Gracefully." + hint);
  }
  server->Join();
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
  message.body() = {"Hello"};
  client.Send(message);
  client.Disconnect();
  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].rcpt_tos, std::vector<std::string>{kJoerg});
  EXPECT_NE(mails[0].data.find("\r\nTo: " + kJoerg + "\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tovrel::net
