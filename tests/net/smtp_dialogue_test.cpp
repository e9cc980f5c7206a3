// The SMTP dialogue on the wire, against scripted servers that record every byte.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "message/header_generation.h"
#include "message/locale_info.h"
#include "message/message_error.h"
#include "message/string_helpers.h"
#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "net/socket_stack.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tovrel::net {
namespace {

using test::LoopbackServer;
using test::SmtpScript;

const std::string kEhloOk = "250-mx.test greets you\r\n250-AUTH=LOGIN\r\n250 OK";
const std::string kEhloAuth = "250-mx.test\r\n250-AUTH LOGIN PLAIN\r\n250-AUTH=LOGIN\r\n250 HELP";

void Fill(message::Message& message) {
  message.from().set_address("alice@example.org");
  message.from().set_name("Alice");
  message.recipients().AddItem().set_address("to1@example.org");
  message.recipients().AddItem().set_address("to2@example.org");
  message.cc_list().AddItem().set_address("cc@example.org");
  message.bcc_list().AddItem().set_address("bcc@example.org");
  message.set_subject("Greetings");
  message.body() = {"Hello", ".hidden dot", "bye"};
}

std::string Python(const std::string& code, const std::vector<std::string>& args = {}) {
  test::ProcessResult result = test::RunPython(code, args);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}

std::string Base64(const std::string& text) {
  return Python(
      "import base64,sys; sys.stdout.write(base64.b64encode(sys.argv[1].encode()).decode())",
      {text});
}

void ConnectTo(SmtpClient& client, int port) {
  client.set_host("127.0.0.1");
  client.set_port(port);
  client.Connect();
}

// Everything from the first byte up to (not including) `marker`.
std::string Before(const std::string& text, const std::string& marker) {
  return text.substr(0, text.find(marker));
}

TEST(SmtpDialogue, CommandsByteForByte) {
  LoopbackServer server({SmtpScript(
      {"220 mx.test ESMTP", kEhloAuth, "250 reset", "334 VXNlcg==", "334 UGFzcw==", "235 welcome",
       "250 sender", "250 r1", "250 r2", "250 r3", "250 r4", "354 go", "250 queued"})});
  SmtpClient client;
  client.set_authentication_type(AuthenticationType::atLogin);
  client.set_user_id("jane");
  client.set_password("s3cret pass");
  client.set_mail_agent("TovrelMail 3.3");
  ConnectTo(client, server.port());
  EXPECT_EQ(client.server_auth_mechanisms(), (std::vector<std::string>{"LOGIN", "PLAIN"}));
  message::Message message;
  Fill(message);
  client.Send(message);
  client.Disconnect();
  const std::string wire = server.Join()[0];

  const std::string host = client.hello_name();
  const std::string expected_commands = "ehlo " + host + "\r\nRset\r\nauth LOGIN\r\n" +
                                        Base64("jane") + "\r\n" + Base64("s3cret pass") +
                                        "\r\nMail from:<alice@example.org>\r\n"
                                        "RCPT to:<to1@example.org>\r\nRCPT to:<to2@example.org>\r\n"
                                        "RCPT to:<cc@example.org>\r\nRCPT to:<bcc@example.org>\r\n"
                                        "Data\r\n";
  ASSERT_EQ(wire.substr(0, expected_commands.size()), expected_commands);
  const std::string text = wire.substr(expected_commands.size());
  EXPECT_EQ(text.substr(text.size() - 11), "\r\n.\r\nQuit\r\n");
  EXPECT_NE(text.find("\r\nX-Mailer: TovrelMail 3.3\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n\r\nHello\r\n..hidden dot\r\nbye\r\n.\r\n"), std::string::npos);
  EXPECT_EQ(text.find("bcc@"), std::string::npos);  // never in the text
  // The stuffing happens on the wire only.
  EXPECT_EQ(message.body()[1], ".hidden dot");
  EXPECT_FALSE(client.authenticated());
}

// Everything of a message that the writer reads, one item per line.
std::string Snapshot(const message::Message& message) {
  std::string text = message.content_type() + "|" + message.content_transfer_encoding() + "\n";
  auto add = [&text](const char* what, const auto& lines) {
    for (const std::string& line : lines) text += std::string(what) + line + "\n";
  };
  add("header ", message.extra_headers());
  add("body ", message.body());
  for (size_t i = 0; i < message.parts().count(); ++i) {
    const message::MessagePart& part = message.parts()[i];
    add("part ", part.part_headers());
    add("part extra ", part.extra_headers());
    if (auto* text_part = dynamic_cast<const message::TextPart*>(&part)) {
      add("part body ", text_part->body());
    } else {
      text += "spool " + static_cast<const message::Attachment&>(part).spool_file_name() + "\n";
    }
  }
  return text;
}

// The message texts of a wire that carries several, each with its Date field blanked.
std::vector<std::string> MessageTexts(const std::string& wire) {
  std::vector<std::string> texts;
  for (size_t at = wire.find("Data\r\n"); at != std::string::npos; at = wire.find("Data\r\n", at)) {
    at += 6;
    std::string text = wire.substr(at, wire.find("\r\n.\r\n", at) - at);
    const size_t date = text.find("\r\nDate: ");
    if (date != std::string::npos) text.erase(date + 8, text.find("\r\n", date + 2) - date - 8);
    texts.push_back(text);
  }
  return texts;
}

TEST(SmtpDialogue, SendingTwiceLeavesTheMessageAndGivesTheSameText) {
  test::TempDir dir;
  test::WriteFile(dir.File("a.bin"), test::RandomBytes(100, 4));
  message::StringList plain = {".plain", "text"};
  message::StringList html = {".<p>"};
  // Each shape is one the writer used to change: the fields declaring UTF-8 text, the stuffed
  // body lines, the stuffed text-part lines and the part defaults.
  const std::vector<std::function<void(message::Message&)>> shapes = {
      [](message::Message& m) {
        m.body() = {"K\xC3\xB6ln", ".dot"};
      },
      [&](message::Message& m) {
        m.body() = {".first", "..second"};
        m.parts().AddAttachment(dir.File("a.bin"));
      },
      [&](message::Message& m) {
        m.parts().AddTextPart(&plain);
        m.parts().AddTextPart(&html).set_content_type("text/html");
        m.parts().AddAttachment(dir.File("a.bin"));
      },
  };
  const std::vector<std::string> twice = {"220 hi", kEhloOk, "250 r", "250 s", "250 t",  "354 go",
                                          "250 d",  "250 r", "250 s", "250 t", "354 go", "250 d"};
  LoopbackServer server(std::vector<LoopbackServer::Session>(shapes.size(), SmtpScript(twice)));
  for (const auto& fill : shapes) {
    message::Message message;
    message.from().set_address("a@b.c");
    message.recipients().AddItem().set_address("d@e.f");
    message.extra_headers().SetHeader("X-Own", "kept");
    fill(message);
    const std::string before = Snapshot(message);
    SmtpClient client;
    client.set_locale(message::LocaleInfoFromName("de_DE.UTF-8"));
    client.set_mail_agent("TovrelMail 3.3");
    ConnectTo(client, server.port());
    client.Send(message);
    EXPECT_EQ(Snapshot(message), before);
    client.Send(message);
    EXPECT_EQ(Snapshot(message), before);
    client.Disconnect();
  }
  for (const std::string& wire : server.Join()) {
    const std::vector<std::string> texts = MessageTexts(wire);
    ASSERT_EQ(texts.size(), 2u) << wire;
    EXPECT_EQ(texts[0], texts[1]);
    EXPECT_NE(texts[0].find("\r\nX-Mailer: TovrelMail 3.3\r\n"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("\r\n.."), std::string::npos) << texts[0];
  }
}

TEST(SmtpDialogue, EightBitTextIsAnnouncedOrEncoded) {
  test::TempDir dir;
  test::WriteFile(dir.File("a.bin"), "xyz");
  const std::string ehlo_8bit = "250-mx.test\r\n250-8BITMIME\r\n250 OK";
  const std::string typed = "K\xC3\xB6ln";
  struct Case {
    std::vector<std::string> greeting_and_hello;
    std::string body;
    bool with_attachment;
    std::string mail;
    std::string text;  // the body's fields and lines as they go out
  };
  const std::vector<Case> cases = {
      {{"220 hi", ehlo_8bit},
       typed,
       false,
       "Mail from:<a@b.c> BODY=8BITMIME",
       "X-Mailer: m\r\nMIME-Version: 1.0\r\n\r\n" + typed + "\r\n..dot\r\n.\r\n"},
      {{"220 hi", kEhloOk},
       typed,
       false,
       "Mail from:<a@b.c>",
       "Content-Type: text/plain; charset=UTF-8\r\nMIME-Version: 1.0\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n"},
      {{"220 hi", kEhloOk},
       typed,
       true,
       "Mail from:<a@b.c>",
       "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n"
       "\r\nK=C3=B6ln\r\n..dot\r\n"},
      {{"220 hi", "500 no", "250 hello"},
       typed,
       false,
       "Mail from:<a@b.c>",
       "\r\n\r\nK=C3=B6ln\r\n"},
      {{"220 hi", ehlo_8bit},
       "plain",
       true,
       "Mail from:<a@b.c>",
       "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\nplain\r\n"},
  };
  std::vector<LoopbackServer::Session> sessions;
  for (const Case& c : cases) {
    std::vector<std::string> script = c.greeting_and_hello;
    for (const char* reply : {"250 r", "250 s", "250 t", "354 go", "250 ok"}) {
      script.push_back(reply);
    }
    sessions.push_back(SmtpScript(script));
  }
  LoopbackServer server(sessions);
  for (const Case& c : cases) {
    SmtpClient client;
    client.set_locale(message::LocaleInfoFromName("de_DE.UTF-8"));
    client.set_mail_agent("m");
    message::Message message;
    message.from().set_address("a@b.c");
    message.recipients().AddItem().set_address("d@e.f");
    message.body() = {c.body, ".dot"};
    if (c.with_attachment) message.parts().AddAttachment(dir.File("a.bin"));
    ConnectTo(client, server.port());
    client.Send(message);
    client.Disconnect();
  }
  const std::vector<std::string> wires = server.Join();
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_NE(wires[i].find("\r\n" + cases[i].mail + "\r\nRCPT to:<d@e.f>\r\n"), std::string::npos)
        << wires[i];
    EXPECT_NE(wires[i].find(cases[i].text), std::string::npos) << wires[i];
  }
}

// The message text is one write phase, announced with its size before the first byte: plain,
// quoted-printable with soft breaks, 8-bit as typed, base64 files of every remainder, and
// boundaries with a suffix.
TEST(SmtpDialogue, MessageTextIsOneWorkPhaseOfItsKnownSize) {
  test::TempDir dir;
  std::vector<std::string> files;
  for (const size_t size : {0, 1, 56, 57, 58, 70000}) {
    files.push_back(dir.File("f" + std::to_string(size) + ".bin"));
    test::WriteFile(files.back(), test::RandomBytes(size, 7));
  }
  files.push_back(dir.File("K\xC3\xB6ln \"Dom\".txt"));
  test::WriteFile(files.back(), "text");
  const std::string ehlo_8bit = "250-mx.test\r\n250-8BITMIME\r\n250 OK";
  const std::string long_line = std::string(200, 'a') + "\xC3\xB6";
  struct Case {
    std::string ehlo;
    message::StringList body;
    bool with_files;
    bool text_parts = false;  // a plain and a quoted-printable alternative instead of the body
  };
  const std::vector<Case> cases = {
      {kEhloOk, {"Hello", "", "bye"}, false},
      {kEhloOk, {"Hello"}, true},
      {kEhloOk, {"K\xC3\xB6ln", long_line, "trailing blank "}, false},
      {ehlo_8bit, {"K\xC3\xB6ln", long_line}, true},
      {kEhloOk, {"G=r\xC3\xBC\xC3\x9F", "plain"}, false, true},
      {kEhloOk, {"G=r\xC3\xBC\xC3\x9F", "plain"}, true, true},
      // A body line that would end a part gives the boundaries a suffix.
      {kEhloOk, {std::string("--") + message::kMixedBoundary, "x"}, true},
      {kEhloOk, {std::string("--") + message::kAlternativeBoundary}, true, true},
  };
  std::vector<LoopbackServer::Session> sessions;
  for (const Case& c : cases) {
    sessions.push_back(
        SmtpScript({"220 hi", c.ehlo, "250 r", "250 s", "250 t", "354 go", "250 ok"}));
  }
  LoopbackServer server(sessions);
  struct Seen {
    int begins = 0;
    int ends = 0;
    int64_t maximum = -1;
    int64_t total = -1;
  };
  std::vector<Seen> seen(cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SmtpClient client;
    client.set_locale(message::LocaleInfoFromName("de_DE.UTF-8"));
    Seen& s = seen[i];
    client.set_on_work_begin([&s](NetComponent&, WorkMode mode, int64_t maximum) {
      if (mode != WorkMode::wkWrite) return;
      ++s.begins;
      s.maximum = maximum;
    });
    client.set_on_work([&s](NetComponent&, WorkMode mode, int64_t total) {
      if (mode == WorkMode::wkWrite) s.total = total;
    });
    client.set_on_work_end([&s](NetComponent&, WorkMode mode) {
      if (mode == WorkMode::wkWrite) ++s.ends;
    });
    message::Message message;
    message.from().set_address("a@b.c");
    message.recipients().AddItem().set_address("d@e.f");
    message.set_subject("Size");
    message.body() = cases[i].body;
    if (cases[i].text_parts) {
      message::TextPart& plain = message.parts().AddTextPart(&cases[i].body);
      plain.set_content_transfer("7bit");
      message.parts().AddTextPart(&cases[i].body).set_content_type("text/html");
    }
    if (cases[i].with_files) {
      for (const std::string& file : files) message.parts().AddAttachment(file);
    }
    ConnectTo(client, server.port());
    client.Send(message);
    client.Disconnect();
  }
  const std::vector<std::string> wires = server.Join();
  for (size_t i = 0; i < cases.size(); ++i) {
    const size_t start = wires[i].find("Data\r\n") + 6;
    const size_t end = wires[i].find("\r\n.\r\n", start) + 2;
    const auto text_size = static_cast<int64_t>(end - start);
    EXPECT_EQ(seen[i].begins, 1) << i;
    EXPECT_EQ(seen[i].ends, 1) << i;
    EXPECT_EQ(seen[i].maximum, text_size) << i;
    EXPECT_EQ(seen[i].total, text_size) << i;
  }
}

TEST(SmtpDialogue, HeloFallbackAndNoAuthWhenNotOffered) {
  LoopbackServer server({SmtpScript({"220 old server", "500 what is ehlo", "250 hello", "250 reset",
                                     "250 sender", "354 go", "250 ok"})});
  SmtpClient client;
  client.set_authentication_type(AuthenticationType::atLogin);
  client.set_user_id("jane");
  ConnectTo(client, server.port());
  EXPECT_TRUE(client.server_auth_mechanisms().empty());
  message::Message message;
  message.from().set_address("a@b.c");
  message.body() = {"x"};
  client.Send(message);  // no recipients at all: MAIL is followed by DATA
  client.Disconnect();
  const std::string wire = server.Join()[0];
  const std::string host = client.hello_name();
  EXPECT_EQ(Before(wire, "From:"),
            "ehlo " + host + "\r\nHelo " + host + "\r\nRset\r\nMail from:<a@b.c>\r\nData\r\n");
}

TEST(SmtpDialogue, AuthMechanismLines) {
  struct Case {
    std::string ehlo;
    std::vector<std::string> mechanisms;
  };
  const std::vector<Case> cases = {
      {"250-x\r\n250-AUTH LOGIN PLAIN\r\n250 OK", {"LOGIN", "PLAIN"}},
      {"250-x\r\n250-AUTH=LOGIN\r\n250 OK", {"LOGIN"}},
      {"250-x\r\n250-XAUTH LOGIN\r\n250 OK", {}},
      {"250-x\r\n250-AUTH\r\n250 OK", {}},
      {"250-x\r\n250-auth login Login\r\n250 AUTH LOGIN CRAM-MD5", {"LOGIN", "CRAM-MD5"}},
      {"250 AUTH LOGIN", {}},  // the first line is the server's name line
  };
  std::vector<LoopbackServer::Session> sessions;
  for (const Case& c : cases) sessions.push_back(SmtpScript({"220 hi", c.ehlo}));
  LoopbackServer server(sessions);
  SmtpClient client;
  for (const Case& c : cases) {
    ConnectTo(client, server.port());
    EXPECT_EQ(client.server_auth_mechanisms(), c.mechanisms) << c.ehlo;
    EXPECT_EQ(client.MechanismOffered(AuthenticationType::atLogin),
              std::find(c.mechanisms.begin(), c.mechanisms.end(), "LOGIN") != c.mechanisms.end());
    client.Disconnect();
  }
  server.Join();
}

TEST(SmtpDialogue, AuthenticatesOncePerConnection) {
  const std::vector<std::string> first = {"220 hi", kEhloOk, "250 r", "334 u",  "334 p",
                                          "235 ok", "250 s", "250 t", "354 go", "250 done",
                                          "250 r",  "250 s", "250 t", "354 go", "250 done"};
  const std::vector<std::string> second = {"220 hi", kEhloOk, "250 r", "334 u",  "334 p",
                                           "235 ok", "250 s", "250 t", "354 go", "250 done"};
  LoopbackServer server({SmtpScript(first), SmtpScript(second)});
  SmtpClient client;
  client.set_authentication_type(AuthenticationType::atLogin);
  ConnectTo(client, server.port());
  message::Message message;
  message.from().set_address("a@b.c");
  message.recipients().AddItem().set_address("d@e.f");
  client.Send(message);
  EXPECT_TRUE(client.authenticated());
  client.Send(message);
  client.Disconnect();
  ConnectTo(client, server.port());
  client.Send(message);
  client.Disconnect();
  const auto wires = server.Join();
  auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(wires[0], "auth LOGIN\r\n"), 1u);
  EXPECT_EQ(count(wires[0], "Rset\r\n"), 2u);
  EXPECT_EQ(count(wires[1], "auth LOGIN\r\n"), 1u);
}

TEST(SmtpDialogue, RefusedRepliesCarryTheServersLine) {
  struct Case {
    std::vector<std::string> script;
    std::string line;
    int code;
  };
  const std::vector<Case> cases = {
      {{"220 hi", kEhloOk, "250 r", "550 5.1.0 sender rejected"}, "550 5.1.0 sender rejected", 550},
      {{"220 hi", kEhloOk, "250 r", "250 s", "252 Cannot VRFY"},
       "The server refused the recipient d@e.f: 252 Cannot VRFY",
       252},
      {{"220 hi", kEhloOk, "250 r", "250 s", "250 t", "451-4.3.0 try\r\n451 4.3.0 later"},
       "451-4.3.0 try 451 4.3.0 later",
       451},
      {{"220 hi", kEhloOk, "250 r", "250 s", "250 t", "354 go", "554 5.6.0 content rejected"},
       "554 5.6.0 content rejected",
       554},
      {{"220 hi", "500 no ehlo", "502 no helo either"}, "502 no helo either", 502},
      {{"220 hi", kEhloOk, "250 r", "250 s", "250 t", "250 strange data reply"},
       "250 strange data reply",
       250},
  };
  std::vector<LoopbackServer::Session> sessions;
  for (const Case& c : cases) sessions.push_back(SmtpScript(c.script));
  LoopbackServer server(sessions);
  SmtpClient client;
  for (const Case& c : cases) {
    message::Message message;
    message.from().set_address("a@b.c");
    message.recipients().AddItem().set_address("d@e.f");
    try {
      ConnectTo(client, server.port());
      client.Send(message);
      ADD_FAILURE() << "no exception for " << c.line;
    } catch (const ProtocolReplyError& error) {
      EXPECT_STREQ(error.what(), c.line.c_str());
      EXPECT_EQ(error.reply_code(), c.code);
    }
    client.Disconnect();
  }
  server.Join();
}

TEST(SmtpDialogue, RefusedPasswordLeavesTheClientUnauthenticated) {
  LoopbackServer server({SmtpScript(
      {"220 hi", kEhloOk, "250 r", "334 VXNlcg==", "334 UGFzcw==", "535 5.7.8 bad credentials"})});
  SmtpClient client;
  client.set_authentication_type(AuthenticationType::atLogin);
  client.set_user_id("jane");
  client.set_password("wrong");
  ConnectTo(client, server.port());
  message::Message message;
  message.from().set_address("a@b.c");
  try {
    client.Send(message);
    FAIL() << "no exception";
  } catch (const ProtocolReplyError& error) {
    EXPECT_STREQ(error.what(), "535 5.7.8 bad credentials");
    EXPECT_EQ(error.reply_code(), 535);
  }
  EXPECT_FALSE(client.authenticated());
  client.Disconnect();
  const std::string wire = server.Join()[0];
  EXPECT_EQ(wire.find("Mail from"), std::string::npos);
}

TEST(SmtpDialogue, GreetingRefusalWritesQuitAndAllowsReconnect) {
  LoopbackServer server({SmtpScript({"554 no service here"}), SmtpScript({"220 hi", kEhloOk})});
  SmtpClient client;
  try {
    ConnectTo(client, server.port());
    FAIL() << "no exception";
  } catch (const ProtocolReplyError& error) {
    EXPECT_STREQ(error.what(), "554 no service here");
    EXPECT_EQ(error.reply_code(), 554);
  }
  EXPECT_FALSE(client.IsConnected());
  ConnectTo(client, server.port());
  // A second Connect on an open connection fails before any byte is written.
  EXPECT_THROW(client.Connect(), AlreadyConnected);
  client.Disconnect();
  const auto wires = server.Join();
  EXPECT_EQ(wires[0], "Quit\r\n");
  EXPECT_EQ(wires[1], "ehlo " + client.hello_name() + "\r\nQuit\r\n");
}

TEST(SmtpDialogue, AlreadyConnectedText) {
  LoopbackServer server({SmtpScript({"220 hi", kEhloOk})});
  SmtpClient client;
  ConnectTo(client, server.port());
  try {
    client.Connect();
    FAIL() << "no exception";
  } catch (const AlreadyConnected& error) {
    EXPECT_STREQ(error.what(), "Already connected.");
  }
  client.Disconnect();
  EXPECT_EQ(server.Join()[0], "ehlo " + client.hello_name() + "\r\nQuit\r\n");
}

TEST(SmtpDialogue, ServerClosingAtEachStep) {
  const std::vector<std::string> full = {"220 hi", kEhloOk,  "250 r",   "250 s",
                                         "250 t",  "354 go", "250 done"};
  std::vector<LoopbackServer::Session> sessions;
  for (size_t k = 0; k < full.size(); ++k) {
    std::vector<std::string> script(full.begin(), full.begin() + k);
    script.push_back("<close>");
    sessions.push_back(SmtpScript(script));
  }
  LoopbackServer server(sessions);
  SmtpClient client;
  for (size_t k = 0; k < full.size(); ++k) {
    message::Message message;
    message.from().set_address("a@b.c");
    message.recipients().AddItem().set_address("d@e.f");
    message.body() = {"text"};
    try {
      ConnectTo(client, server.port());
      client.Send(message);
      ADD_FAILURE() << "no exception at step " << k;
    } catch (const ConnClosedGracefully& error) {
      EXPECT_STREQ(error.what(), "Connection Closed Gracefully.");
    } catch (const std::exception& error) {
      ADD_FAILURE() << "step " << k << ": " << error.what();
    }
    EXPECT_FALSE(client.IsConnected()) << k;
    EXPECT_NO_THROW(client.Disconnect());
  }
  server.Join();
}

TEST(SmtpDialogue, RepliesInOneBytePieces) {
  LoopbackServer server({SmtpScript({"220-mx.test\r\n220 ready", kEhloAuth, "250 r", "334 u",
                                     "334 p", "235 ok", "250 s", "250 t", "354 go", "250 done"},
                                    true)});
  SmtpClient client;
  client.set_authentication_type(AuthenticationType::atLogin);
  ConnectTo(client, server.port());
  EXPECT_EQ(client.server_auth_mechanisms(), (std::vector<std::string>{"LOGIN", "PLAIN"}));
  message::Message message;
  Fill(message);
  message.cc_list().Clear();
  message.bcc_list().Clear();
  message.recipients().Delete(1);
  client.Send(message);
  EXPECT_EQ(client.LastReplyLine(), "250 done");
  client.Disconnect();
  server.Join();
}

TEST(SmtpDialogue, InjectedAddressesNeverReachTheWire) {
  struct Case {
    std::string address;
    std::string error;
  };
  const std::string invalid = "Invalid character in e-mail address ";
  const std::string too_long = "E-mail address too long for an SMTP command ";
  // One octet more than a recipient may have; a sender may have two octets fewer.
  const std::string long_address = std::string(496, 'a') + "@b.cd";
  const std::vector<Case> cases = {
      {"a@b.c\r\nRCPT to:<evil@x>", invalid + "\"a@b.c\\r\\nRCPT to:<evil@x>\""},
      {"x@y\nDATA", invalid + "\"x@y\\nDATA\""},
      {std::string("nul\0@z", 6), invalid + "\"nul\\0@z\""},
      {"victim@x.example> NOTIFY=SUCCESS", invalid + "\"victim@x.example> NOTIFY=SUCCESS\""},
      {"a@b.c> BODY=8BITMIME", invalid + "\"a@b.c> BODY=8BITMIME\""},
      {"<a@b.c>", invalid + "\"<a@b.c>\""},
      {"two words@b.c", invalid + "\"two words@b.c\""},
      {"tab@b.c\t", invalid + "\"tab@b.c\\x09\""},
      {"\"quoted \x01\"@b.c", invalid + "\"\"quoted \\x01\"@b.c\""},
      {"\"never closed@b.c> X=Y", invalid + "\"\"never closed@b.c> X=Y\""},
      {"\"quoted\" after@b.c", invalid + "\"\"quoted\" after@b.c\""},
      {long_address, too_long + "\"" + std::string(60, 'a') + "...\""},
  };
  std::vector<LoopbackServer::Session> sessions;
  for (size_t i = 0; i < 4 * cases.size(); ++i) {
    sessions.push_back(SmtpScript({"220 hi", kEhloOk}));
  }
  // The longest sender and recipient that fit a command line of 512 octets, and a quoted local
  // part whose blank and angle brackets belong to it.
  const std::string longest = std::string(493, 'a') + "@b.cd";
  const std::string quoted = "\"john <doe>\"@example.org";
  sessions.push_back(
      SmtpScript({"220 hi", kEhloOk, "250 r", "250 s", "250 t", "250 u", "354 go", "250 ok"}));
  LoopbackServer server(sessions);
  SmtpClient client;
  for (const Case& c : cases) {
    for (int where = 0; where < 4; ++where) {
      message::Message message;
      message.from().set_address(where == 0 ? c.address : "ok@b.c");
      message.recipients().AddItem().set_address(where == 1 ? c.address : "to@b.c");
      if (where == 2) message.cc_list().AddItem().set_address(c.address);
      if (where == 3) message.bcc_list().AddItem().set_address(c.address);
      ConnectTo(client, server.port());
      try {
        client.Send(message);
        ADD_FAILURE() << "no exception for " << c.error;
      } catch (const message::MessageError& error) {
        EXPECT_EQ(error.what(), c.error);
      }
      client.Disconnect();
    }
  }
  message::Message message;
  message.from().set_address(longest);
  message.recipients().AddItem().set_address(quoted);
  message.recipients().AddItem().set_address(std::string(495, 'r') + "@b.cd");
  ConnectTo(client, server.port());
  client.Send(message);
  client.Disconnect();
  const std::vector<std::string> wires = server.Join();
  for (size_t i = 0; i + 1 < wires.size(); ++i) {
    EXPECT_EQ(wires[i], "ehlo " + client.hello_name() + "\r\nQuit\r\n");
  }
  EXPECT_NE(wires.back().find("\r\nMail from:<" + longest + ">\r\nRCPT to:<" + quoted +
                              ">\r\nRCPT to:<" + std::string(495, 'r') + "@b.cd>\r\nData\r\n"),
            std::string::npos)
      << wires.back();
}

// Each wait has its own limit; a short limit makes the silent server fail fast.
TEST(SmtpDialogue, EveryWaitHasALimit) {
  struct Case {
    std::vector<std::string> script;
    void (*limit)(SmtpClient&);
  };
  const std::vector<Case> cases = {
      {{"<silent>"}, [](SmtpClient& c) { c.set_greeting_timeout(150); }},
      {{"220 hi", "<silent>"}, [](SmtpClient& c) { c.set_command_timeout(150); }},
      {{"220 hi", kEhloOk, "250 r", "<silent>"}, [](SmtpClient& c) { c.set_command_timeout(150); }},
      {{"220 hi", kEhloOk, "250 r", "250 s", "<silent>"},
       [](SmtpClient& c) { c.set_command_timeout(150); }},
      {{"220 hi", kEhloOk, "250 r", "250 s", "250 t", "<silent>"},
       [](SmtpClient& c) { c.set_data_init_timeout(150); }},
      {{"220 hi", kEhloOk, "250 r", "250 s", "250 t", "354 go", "<silent>"},
       [](SmtpClient& c) { c.set_data_termination_timeout(150); }},
  };
  std::vector<LoopbackServer::Session> sessions;
  for (const Case& c : cases) sessions.push_back(SmtpScript(c.script));
  LoopbackServer server(sessions);
  for (const Case& c : cases) {
    SmtpClient client;
    c.limit(client);
    message::Message message;
    message.from().set_address("a@b.c");
    message.recipients().AddItem().set_address("d@e.f");
    try {
      ConnectTo(client, server.port());
      client.Send(message);
      ADD_FAILURE() << "no exception";
    } catch (const SocketError& error) {
      EXPECT_EQ(error.error_number(), 10060);
      EXPECT_STREQ(error.what(), "Socket Error # 10060\r\nConnection timed out.");
    }
    EXPECT_FALSE(client.IsConnected());
  }
  server.Join();
}

// Sends a message with one attachment of `size` random bytes to a server that follows `script`
// and returns the socket error the send ended with, after checking that the spool file is gone.
SocketError FailingAttachmentSend(const std::vector<std::string>& script, size_t size,
                                  int data_block_timeout) {
  test::TempDir dir;
  const std::string file = dir.File("data.bin");
  test::WriteFile(file, test::RandomBytes(size, 6));
  LoopbackServer server({SmtpScript(script)});
  const auto spool_before = test::SpoolFiles();
  SmtpClient client;
  client.set_data_block_timeout(data_block_timeout);
  ConnectTo(client, server.port());
  message::Message message;
  message.from().set_address("a@b.c");
  message.recipients().AddItem().set_address("d@e.f");
  message.parts().AddAttachment(file);
  SocketError failure(0, "no failure");
  try {
    client.Send(message);
    ADD_FAILURE() << "no exception";
  } catch (const SocketError& error) {
    failure = error;
  }
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(test::SpoolFiles(), spool_before);
  EXPECT_NO_THROW(client.Disconnect());
  server.Join();
  return failure;
}

TEST(SmtpDialogue, StalledWriteTimesOutAndLeavesNoFileBehind) {
  const SocketError error = FailingAttachmentSend(
      {"220 hi", kEhloOk, "250 r", "250 s", "250 t", "354 go", "<stall>"}, 24 * 1024 * 1024, 200);
  EXPECT_EQ(error.error_number(), 10060);
}

TEST(SmtpDialogue, ResetInTheMiddleOfTheMessage) {
  const SocketError error =
      FailingAttachmentSend({"220 hi", kEhloOk, "250 r", "250 s", "250 t", "354 go", "<reset>"},
                            5 * 1024 * 1024, SmtpClient::kDataBlockTimeout);
  EXPECT_EQ(error.error_number(), 10054);
  EXPECT_STREQ(error.what(), "Socket Error # 10054\r\nConnection reset by peer.");
}

TEST(SmtpDialogue, ConnectFailures) {
  SmtpClient client;
  client.set_host("127.0.0.1");
  client.set_port(test::RefusedPort());
  try {
    client.Connect();
    FAIL() << "no exception";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.error_number(), 10061);
    EXPECT_STREQ(error.what(), "Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_FALSE(client.IsConnected());

  client.set_host(test::kUnresolvableHost);
  try {
    client.Connect();
    FAIL() << "no exception";
  } catch (const SocketError& error) {
    EXPECT_TRUE(error.error_number() == 11001 || error.error_number() == 11002 ||
                error.error_number() == 11004)
        << error.error_number();
    EXPECT_EQ(error.what(), SystemStack::SocketErrorText(error.error_number()));
  }
  EXPECT_FALSE(client.IsConnected());

  // And the same client still connects afterwards.
  LoopbackServer server({SmtpScript({"220 hi", kEhloOk})});
  client.set_host("LocalHost");
  client.set_port(server.port());
  client.Connect();
  EXPECT_EQ(client.binding().remote_ip(), "127.0.0.1");
  client.Disconnect();
  server.Join();
}

TEST(SmtpDialogue, ConnectThatNobodyAnswersTimesOut) {
  // A listener that never accepts: once its queue is full, further connects get no answer.
  int port = 0;
  const int listener = test::LoopbackSocket(port, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  std::vector<int> fillers;
  bool full = false;
  while (!full && fillers.size() < 8) {
    fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    pollfd entry{fillers.back(), POLLOUT, 0};
    full = poll(&entry, 1, 300) == 0;
  }
  ASSERT_TRUE(full);

  SmtpClient client;
  client.set_host("127.0.0.1");
  client.set_port(port);
  client.set_connect_timeout(300);
  bool connected = false;
  client.set_on_status([&](NetComponent&, ConnectionStatus status, const std::string&) {
    connected = connected || status == ConnectionStatus::stConnected;
  });
  const auto start = std::chrono::steady_clock::now();
  try {
    client.Connect();
    ADD_FAILURE() << "no exception";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.error_number(), 10060);
    EXPECT_STREQ(error.what(), "Socket Error # 10060\r\nConnection timed out.");
  }
  // Nothing waits for the connect that the system would go on trying for minutes.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(connected);
  EXPECT_FALSE(client.binding().has_handle());
  for (const int fd : fillers) close(fd);
  close(listener);
}

}  // namespace
}  // namespace tovrel::net
