// Reaching SMTP servers over IPv6: literal addresses, the walk over every address a name has,
// and IPv6 targets through a SOCKS 5 proxy. Only loopback addresses are used; no name but
// "localhost" goes to the system's resolver.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "net/socket_stack.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tovrel::net {
namespace {

void SendNote(SmtpClient& client) {
  message::Message message;
  message.from().set_address("alice@example.org");
  message.recipients().AddItem().set_address("bob@example.org");
  message.body() = {"hi"};
  client.Connect();
  client.Send(message);
  client.Disconnect();
}

TEST(Ipv6Connect, LiteralAddressesWithAndWithoutBrackets) {
  if (!test::HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback";
  EXPECT_EQ(SystemStack::Ipv6Literal("[::1]"), "::1");
  EXPECT_EQ(SystemStack::Ipv6Literal("2001:db8::25"), "2001:db8::25");
  EXPECT_EQ(SystemStack::Ipv6Literal("127.0.0.1"), "");
  EXPECT_EQ(SystemStack::Ipv6Literal("mail.example.org"), "");
  test::AiosmtpdServer::Options only_v6;
  only_v6.host = "::1";
  test::AiosmtpdServer server(only_v6);
  for (const char* host : {"::1", "[::1]"}) {
    SmtpClient client;
    client.set_host(host);
    client.set_port(server.port());
    std::vector<std::string> statuses;
    client.set_on_status([&](NetComponent&, ConnectionStatus, const std::string& text) {
      statuses.push_back(text);
    });
    SendNote(client);
    // A literal is never looked up.
    EXPECT_EQ(statuses.front(), "Connecting to ::1.") << host;
  }
  EXPECT_EQ(server.WaitForMessages(2).size(), 2u);
}

// The name's IPv6 address refuses, its IPv4 one answers: the send still goes through. When
// every address refuses, the last refusal is what the user reads, as with one address.
TEST(Ipv6Connect, EveryAddressIsTriedInTurn) {
  if (!test::HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback";
  test::AiosmtpdServer server;  // 127.0.0.1 only: ::1 on its port refuses
  std::vector<std::string> asked;
  SmtpClient client;
  client.set_host("mail.test");
  client.set_port(server.port());
  client.set_resolver([&asked](const std::string& host) {
    asked.push_back(host);
    return std::vector<std::string>{"::1", "127.0.0.1"};
  });
  SendNote(client);
  EXPECT_EQ(asked, std::vector<std::string>{"mail.test"});
  EXPECT_EQ(server.WaitForMessages(1).size(), 1u);

  const int closed_port = test::RefusedPort();
  SmtpClient refused;
  refused.set_host("mail.test");
  refused.set_port(closed_port);
  refused.set_resolver([](const std::string&) {
    return std::vector<std::string>{"::1", "127.0.0.1"};
  });
  try {
    refused.Connect();
    ADD_FAILURE() << "connected to a closed port";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.error_number(), 10061);
  }
  EXPECT_FALSE(refused.IsConnected());
}

TEST(Ipv6Connect, Socks5SendsAnIpv6TargetAsItsSixteenBytes) {
  test::LoopbackServer proxy({[](test::Peer& peer) {
    EXPECT_EQ(peer.ReadExactly(3), std::string("\x05\x01\x00", 3));
    peer.Send(std::string("\x05\x00", 2));
    in6_addr target{};
    inet_pton(AF_INET6, "2001:db8::25", &target);
    EXPECT_EQ(peer.ReadExactly(22), std::string("\x05\x01\x00\x04", 4) +
                                        std::string(reinterpret_cast<char*>(&target), 16) +
                                        std::string("\x02\x4b", 2));
    peer.Send(std::string("\x05\x00\x00\x01\x0a\x00\x00\x01\x00\x19", 10) + "220 via proxy\r\n");
    peer.ReadAll();
  }});
  TcpClient client;
  SocksInfo info;
  info.version = SocksVersion::svSocks5;
  info.host = "127.0.0.1";
  info.port = proxy.port();
  client.set_socks_info(info);
  client.set_host("[2001:db8::25]");
  client.set_port(587);
  client.Connect();
  EXPECT_EQ(client.ReadLine(), "220 via proxy");
  client.Disconnect();
  proxy.Join();
}

}  // namespace
}  // namespace tovrel::net
