// Delivery over TLS to a real server (aiosmtpd with STARTTLS or implicit TLS and certificates
// made for this run), and the refusals that must stop a send before the server sees a login or a
// message: a certificate that does not pass, a server without STARTTLS, one that refuses it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "support/loopback_server.h"
#include "support/test_support.h"
#include "support/tls_test_server.h"

namespace tovrel::net {
namespace {

using test::AiosmtpdServer;

class SmtpTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { certs_ = &test::TestCertificates(); }

  static AiosmtpdServer::Options Server(const std::string& mode, const std::string& cert,
                                        const std::string& only = "") {
    return {"jane", "pa ss:word", mode, certs_->File(cert + ".pem"), certs_->File(cert + ".key"),
            only};
  }

  static void SetUp(SmtpClient& client, int port, TlsMode mode) {
    client.set_host("127.0.0.1");
    client.set_port(port);
    client.set_tls_mode(mode);
    client.set_authentication_type(AuthenticationType::atLogin);
    client.set_user_id("jane");
    client.set_password("pa ss:word");
  }

  static void Note(message::Message& message, const std::string& subject) {
    message.from().set_address("alice@example.org");
    message.recipients().AddItem().set_address("bob@example.org");
    message.set_subject(subject);
    message.body() = {"over TLS", ".dot-led line"};
  }

  // A fresh note with `subject`, kept until the fixture ends.
  const message::Message& Noted(const std::string& subject) {
    notes_.push_back(std::make_unique<message::Message>());
    Note(*notes_.back(), subject);
    return *notes_.back();
  }

  // The error text of a send that must fail, or "" when it went through.
  static std::string SendFailure(SmtpClient& client, const message::Message& message) {
    try {
      client.Connect();
      client.Send(message);
      client.Disconnect();
    } catch (const TlsError& e) {
      return e.what();
    } catch (const std::exception& e) {
      return std::string("not a TLS error: ") + e.what();
    }
    return "";
  }

  static const test::TempDir* certs_;
  std::vector<std::unique_ptr<message::Message>> notes_;
};

const test::TempDir* SmtpTls::certs_ = nullptr;

TEST_F(SmtpTls, BothModesWithEitherLoginMechanismDeliverTheMessage) {
  const struct {
    const char* server_mode;
    TlsMode mode;
    const char* only;
  } cases[] = {{"starttls", TlsMode::tmStartTls, "LOGIN"},
               {"starttls", TlsMode::tmStartTls, "PLAIN"},
               {"implicit", TlsMode::tmImplicit, "LOGIN"},
               {"implicit", TlsMode::tmImplicit, "PLAIN"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.server_mode) + " " + c.only);
    AiosmtpdServer server(Server(c.server_mode, "server", c.only));
    SmtpClient client;
    SetUp(client, server.port(), c.mode);
    EXPECT_EQ(SendFailure(client, Noted("hello")), "");
    const auto mails = server.WaitForMessages(1);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].auth_user, "jane");
    EXPECT_NE(mails[0].data.find("Subject: hello\r\n"), std::string::npos);
    EXPECT_NE(mails[0].data.find("\r\n.dot-led line\r\n"), std::string::npos);
    EXPECT_EQ(server.Commands(), (std::vector<std::string>{"AUTH", "MAIL", "RCPT", "DATA"}));
  }
}

TEST_F(SmtpTls, LargeAttachmentArrivesByteForByte) {
  AiosmtpdServer server(Server("starttls", "server"));
  test::TempDir dir;
  std::string data(10 * 1024 * 1024, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 2654435761u) >> 13);
  test::WriteFile(dir.File("big.bin"), data);
  SmtpClient client;
  SetUp(client, server.port(), TlsMode::tmStartTls);
  message::Message message;
  Note(message, "big");
  message.parts().AddAttachment(dir.File("big.bin"));
  ASSERT_EQ(SendFailure(client, message), "");
  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  const test::ProcessResult same = test::RunPython(
      "import email, sys\n"
      "m = email.message_from_binary_file(open(sys.argv[1], 'rb'))\n"
      "part = [p for p in m.walk() if p.get_filename()][0]\n"
      "print(part.get_payload(decode=True) == open(sys.argv[2], 'rb').read())\n",
      {mails[0].data_path, dir.File("big.bin")});
  EXPECT_EQ(same.out, "True\n") << same.err;
}

// Each refusal names the host and the reason, and nothing that matters reached the server;
// with the check turned off, the certificates the user chose to trust are taken.
TEST_F(SmtpTls, CertificatesThatDoNotPassStopTheSendUnlessTheCheckIsOff) {
  const struct {
    const char* cert;
    const char* reason;
  } cases[] = {{"other", "IP address mismatch"},
               {"rogue", "unable to get local issuer certificate"},
               {"expired", "certificate has expired"}};
  for (const auto& c : cases) {
    for (TlsMode mode : {TlsMode::tmStartTls, TlsMode::tmImplicit}) {
      SCOPED_TRACE(std::string(c.cert) + (mode == TlsMode::tmStartTls ? " starttls" : " tls"));
      AiosmtpdServer server(Server(mode == TlsMode::tmStartTls ? "starttls" : "implicit", c.cert));
      SmtpClient client;
      SetUp(client, server.port(), mode);
      EXPECT_EQ(SendFailure(client, Noted("refused")),
                std::string("TLS: certificate verify failed for 127.0.0.1: ") + c.reason);
      EXPECT_FALSE(client.IsConnected());
      EXPECT_TRUE(server.Commands().empty());

      client.set_certificate_check(CertificateCheck::ccNone);
      EXPECT_EQ(SendFailure(client, Noted("trusted")), "");
      EXPECT_EQ(server.WaitForMessages(1).size(), 1u);
    }
  }
}

TEST_F(SmtpTls, AServerWithoutStartTlsIsToldNothing) {
  AiosmtpdServer server(AiosmtpdServer::Options{"jane", "pa ss:word"});
  SmtpClient client;
  SetUp(client, server.port(), TlsMode::tmStartTls);
  EXPECT_EQ(SendFailure(client, Noted("x")),
            "TLS: 127.0.0.1 does not offer STARTTLS; nothing was sent (set Security to None to "
            "send without TLS)");
  EXPECT_TRUE(server.Commands().empty());
}

TEST_F(SmtpTls, AStartTlsRefusalEndsTheDialogueThere) {
  test::LoopbackServer server({test::SmtpScript(
      {"220 hi", "250-there\r\n250-AUTH LOGIN\r\n250 STARTTLS", "454 TLS not available"})});
  SmtpClient client;
  SetUp(client, server.port(), TlsMode::tmStartTls);
  EXPECT_EQ(SendFailure(client, Noted("x")),
            "TLS: 127.0.0.1 refused STARTTLS: 454 TLS not available");
  const std::string wire = server.Join()[0];
  EXPECT_EQ(wire, "ehlo " + client.hello_name() + "\r\nSTARTTLS\r\n");
}

// A server that goes away in the middle of the message ends the send with a socket failure; the
// process must never be killed by the signal a write to a closed socket raises.
TEST_F(SmtpTls, AServerClosingDuringTheMessageIsAFailureNotASignal) {
  test::ChildProcess server(
      {test::kPython, "-c",
       "import socket, ssl, sys\n"
       "context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
       "context.load_cert_chain(sys.argv[1], sys.argv[2])\n"
       "listener = socket.create_server(('127.0.0.1', 0))\n"
       "print(listener.getsockname()[1], flush=True)\n"
       "raw, _ = listener.accept()\n"
       "conn = context.wrap_socket(raw, server_side=True)\n"
       "reader = conn.makefile('rb')\n"
       "conn.sendall(b'220 ready\\r\\n')\n"
       "for line in reader:\n"
       "    verb = line[:4].upper()\n"
       "    if verb == b'DATA':\n"
       "        conn.sendall(b'354 go on\\r\\n')\n"
       "        reader.read(65536)\n"
       "        break\n"
       "    conn.sendall(b'221 bye\\r\\n' if verb == b'QUIT' else b'250 ok\\r\\n')\n"
       "reader.close()\n"
       "conn.close()\n"
       "listener.accept()\n",
       certs_->File("server.pem"), certs_->File("server.key")});
  const int port = std::stoi(server.ReadLine());
  test::TempDir dir;
  test::WriteFile(dir.File("big.bin"), std::string(8 * 1024 * 1024, 'x'));
  SmtpClient client;
  SetUp(client, port, TlsMode::tmImplicit);
  client.set_authentication_type(AuthenticationType::atNone);
  message::Message message;
  Note(message, "cut off");
  message.parts().AddAttachment(dir.File("big.bin"));
  client.Connect();
  EXPECT_THROW(client.Send(message), SocketError);
}

}  // namespace
}  // namespace tovrel::net
