// What a TLS session must withstand from the network: bytes in the clear where only the
// hand-shake may follow, records that stop half-way, certificates that name no host properly;
// and what it owes the server at the end, the close alert.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "support/loopback_server.h"
#include "support/tls_test_server.h"

namespace tovrel::net {
namespace {

using test::LoopbackServer;
using test::Peer;

// The error a connect ends with, "" when it went through.
std::string ConnectFailure(SmtpClient& client) {
  try {
    client.Connect();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// Replies that someone in between slipped in after the "220" are never taken for the server's:
// the connection closes before the hand-shake and nothing more is sent.
TEST(TlsGuard, BytesInTheClearBeforeTheHandshakeEndTheConnection) {
  const auto socks_then_fake_greeting = [](Peer& peer) {
    peer.ReadExactly(3);
    peer.Send(std::string("\5\0", 2));
    peer.ReadExactly(16);  // CONNECT to "127.0.0.1" by name, port 25
    peer.Send(std::string("\5\0\0\1\x7f\0\0\1\0\x19", 10) + "220 fake\r\n");
    peer.ReadAll();
  };
  const struct {
    LoopbackServer::Session session;
    TlsMode mode;
    size_t sent_before;
  } cases[] = {
      {test::SmtpScript({"220 hi", "250-x\r\n250 STARTTLS",
                         "220 go\r\n250 a\r\n250 b\r\n250 c\r\n250 d\r\n354 e\r\n250 f"}),
       TlsMode::tmStartTls, 0},
      {test::SmtpScript(
           {"220 hi", "250-x\r\n250-AUTH LOGIN\r\n250 STARTTLS", "220 go\r\n250 injected"}),
       TlsMode::tmStartTls, 0},
      {socks_then_fake_greeting, TlsMode::tmImplicit, 3 + 16},
  };
  for (const auto& c : cases) {
    LoopbackServer server({c.session});
    SmtpClient client;
    client.set_host("127.0.0.1");
    client.set_port(c.mode == TlsMode::tmImplicit ? 25 : server.port());
    if (c.mode == TlsMode::tmImplicit) {
      client.set_socks_info({SocksAuthentication::saNoAuthentication, "127.0.0.1", "",
                             server.port(), "", SocksVersion::svSocks5});
    }
    client.set_tls_mode(c.mode);
    client.set_data_block_timeout(2000);  // a hand-shake begun by mistake ends soon
    EXPECT_EQ(ConnectFailure(client),
              "TLS: handshake not started with 127.0.0.1: The server sent data before TLS started");
    EXPECT_FALSE(client.IsConnected());
    const std::string wire = server.Join()[0];
    const std::string expected = c.sent_before > 0
                                     ? wire.substr(0, c.sent_before)
                                     : "ehlo " + client.hello_name() + "\r\nSTARTTLS\r\n";
    EXPECT_EQ(wire, expected);
  }
}

// The start of a record without its rest: the read waits on the socket, under its limit.
TEST(TlsGuard, ARecordCutShortWaitsForTheRestWithinTheLimit) {
  test::ScriptedTlsServer server("server", {"tls", "cut:10:220 hi", "hold:10"});
  SmtpClient client;
  client.set_host("127.0.0.1");
  client.set_port(server.port());
  client.set_tls_mode(TlsMode::tmImplicit);
  client.set_greeting_timeout(500);
  EXPECT_EQ(ConnectFailure(client), "Socket Error # 10060\r\nConnection timed out.");
}

TEST(TlsGuard, CertificatesWithPartialWildcardsOrOnlyACommonNameAreRefused) {
  const struct {
    const char* cert;
    const char* host;
  } cases[] = {{"partial", "foo.example.test"}, {"cn-only", "localhost"}};
  for (const auto& c : cases) {
    test::ScriptedTlsServer server(c.cert, {"tls"});
    SmtpClient client;
    client.set_host(c.host);
    client.set_resolver([](const std::string&) { return std::vector<std::string>{"127.0.0.1"}; });
    client.set_port(server.port());
    client.set_tls_mode(TlsMode::tmImplicit);
    EXPECT_EQ(ConnectFailure(client),
              std::string("TLS: certificate verify failed for ") + c.host + ": hostname mismatch");
  }
}

TEST(TlsGuard, TheSessionEndsWithACloseAlert) {
  test::ScriptedTlsServer server("server", {"tls", "send:220 hi", "line", "send:250 ok", "end"});
  SmtpClient client;
  client.set_host("127.0.0.1");
  client.set_port(server.port());
  client.set_tls_mode(TlsMode::tmImplicit);
  ASSERT_EQ(ConnectFailure(client), "");
  client.Disconnect();
  EXPECT_EQ(server.Result(), "close_notify");
}

// The context is made ahead on a thread of its own; settings changed after that are the ones
// the hand-shake follows, so a context that checks nothing never serves a send that must check.
TEST(TlsGuard, ACertificateCheckChangedAfterThePreparationIsTheOneThatCounts) {
  const struct {
    CertificateCheck prepared, connected;
    bool refused;
  } cases[] = {{CertificateCheck::ccNone, CertificateCheck::ccVerify, true},
               {CertificateCheck::ccVerify, CertificateCheck::ccNone, false}};
  for (const auto& c : cases) {
    test::ScriptedTlsServer server("rogue", {"tls", "send:220 hi", "line", "send:250 ok", "end"});
    SmtpClient client;
    client.set_host("127.0.0.1");
    client.set_port(server.port());
    client.set_tls_mode(TlsMode::tmImplicit);
    client.set_certificate_check(c.prepared);
    client.PrepareTls();
    client.set_certificate_check(c.connected);
    const std::string failure = ConnectFailure(client);
    EXPECT_EQ(failure.rfind("TLS: certificate verify failed for 127.0.0.1: ", 0) == 0, c.refused)
        << failure;
    EXPECT_EQ(failure.empty(), !c.refused) << failure;
  }
}

}  // namespace
}  // namespace tovrel::net
