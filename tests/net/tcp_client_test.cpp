// Connecting: status reports, options, proxies (SOCKS 4, 4A and 5 against scripted proxies), the
// socket stack's texts and the notification hooks.

#include "net/tcp_client.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include "net/gui_pump.h"
#include "net/net_errors.h"
#include "net/socket_stack.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tovrel::net {
namespace {

using test::LoopbackServer;
using test::Peer;

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

std::string Port(int port) { return Bytes({(port >> 8) & 0xFF, port & 0xFF}); }

TEST(Connect, StatusReportsInOrder) {
  LoopbackServer server({[](Peer& peer) { peer.ReadAll(); }, [](Peer& peer) { peer.ReadAll(); }});
  TcpClient client;
  std::vector<std::string> statuses;
  client.set_on_status(
      [&](NetComponent&, ConnectionStatus, const std::string& text) { statuses.push_back(text); });
  bool connected_event = false;
  client.set_on_connected([&](TcpClient&) { connected_event = true; });
  client.set_host("LOCALHOST");
  client.set_port(server.port());
  client.Connect();
  EXPECT_TRUE(connected_event);
  client.Disconnect();
  EXPECT_EQ(statuses, (std::vector<std::string>{
                          "Resolving hostname LOCALHOST.", "Connecting to 127.0.0.1.", "Connected.",
                          "Disconnecting from 127.0.0.1.", "Not connected."}));
  statuses.clear();
  client.set_host("127.0.0.1");
  client.Connect();
  EXPECT_EQ(statuses, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected."}));
  client.Disconnect();
  server.Join();
}

TEST(Connect, NoDelayOnlyWhenNagleIsOff) {
  LoopbackServer server({[](Peer& peer) { peer.ReadAll(); }, [](Peer& peer) { peer.ReadAll(); }});
  for (bool nagle : {true, false}) {
    TcpClient client;
    client.set_host("127.0.0.1");
    client.set_port(server.port());
    client.set_use_nagle(nagle);
    client.Connect();
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(client.binding().handle(), IPPROTO_TCP, TCP_NODELAY, &value, &length);
    EXPECT_EQ(value != 0, !nagle);
    client.Disconnect();
  }
  server.Join();
}

TEST(SocketStack, DottedQuads) {
  EXPECT_TRUE(SystemStack::IsDottedQuad("10.0.0.1"));
  EXPECT_TRUE(SystemStack::IsDottedQuad("192.168.1.10"));
  EXPECT_TRUE(SystemStack::IsDottedQuad("0.0.0.0"));
  EXPECT_FALSE(SystemStack::IsDottedQuad("10.0.0"));
  EXPECT_FALSE(SystemStack::IsDottedQuad("1.2.3"));
  EXPECT_FALSE(SystemStack::IsDottedQuad("10.0.0.1.5"));
  EXPECT_FALSE(SystemStack::IsDottedQuad("256.1.1.1"));
  EXPECT_FALSE(SystemStack::IsDottedQuad("a.b.c.d"));
  EXPECT_FALSE(SystemStack::IsDottedQuad(""));
  EXPECT_FALSE(SystemStack::IsDottedQuad("1..2.3"));
  SystemStack stack;
  EXPECT_EQ(stack.ResolveHostAddress("localhost"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveHostAddress("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveHostAddress("192.168.1.10"), "192.168.1.10");
  EXPECT_EQ(SystemStack::AddressToText(SystemStack::TextToAddress("10.20.30.255")), "10.20.30.255");
  EXPECT_FALSE(stack.LocalHostName().empty());
}

TEST(SocketStack, ErrorTexts) {
  EXPECT_EQ(SystemStack::SocketErrorText(10100), "Socket Error # 10100\r\n");
  EXPECT_EQ(SystemStack::SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
  EXPECT_EQ(SystemStack::SocketErrorText(11002),
            "Socket Error # 11002\r\nTemporary failure in name resolution.");
  EXPECT_EQ(SystemStack::SocketErrorText(10035), "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(SystemStack::SocketErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
  EXPECT_EQ(SystemStack::TranslateErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(SystemStack::TranslateErrno(EPIPE), 10058);
  EXPECT_EQ(SystemStack::TranslateErrno(EHOSTUNREACH), 10065);
  EXPECT_EQ(SystemStack::TranslateLookupError(EAI_NONAME), 11001);
  EXPECT_EQ(SystemStack::TranslateLookupError(EAI_AGAIN), 11002);
  EXPECT_EQ(SystemStack::TranslateLookupError(EAI_FAIL), 11003);
}

TEST(Notifications, NestedWorkPhases) {
  TcpConnection connection;
  std::vector<std::string> events;
  connection.set_on_work_begin([&](NetComponent&, WorkMode, int64_t max) {
    events.push_back("begin " + std::to_string(max));
  });
  connection.set_on_work([&](NetComponent&, WorkMode, int64_t total) {
    events.push_back("work " + std::to_string(total));
  });
  connection.set_on_work_end([&](NetComponent&, WorkMode) { events.push_back("end"); });
  connection.ReportWork(WorkMode::wkRead, 5);  // outside a phase: not counted
  connection.StartWork(WorkMode::wkRead, 100);
  connection.StartWork(WorkMode::wkRead, 7);
  connection.ReportWork(WorkMode::wkRead, 10);
  connection.ReportWork(WorkMode::wkWrite, 3);  // the other direction has no phase open
  connection.FinishWork(WorkMode::wkRead);
  connection.ReportWork(WorkMode::wkRead, 1);
  connection.FinishWork(WorkMode::wkRead);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 100", "work 10", "work 11", "end"}));
}

TEST(Notifications, StackLivesWithTheComponents) {
  const int before = LiveNetComponents();
  {
    TcpClient client;
    EXPECT_NE(SocketStack(), nullptr);
    EXPECT_EQ(LiveNetComponents(), before + 1);
  }
  EXPECT_EQ(LiveNetComponents(), before);
  if (before == 0) {
    EXPECT_EQ(SocketStack(), nullptr);
  }
}

TEST(Notifications, OnGuiThreadIsOnlyTheStartingThread) {
  EXPECT_TRUE(OnGuiThread());
  bool other = true;
  std::thread([&] { other = OnGuiThread(); }).join();
  EXPECT_FALSE(other);
}

class CountingPump : public GuiPumpBase {
 public:
  void ServiceApplication() override { ++calls; }
  int calls = 0;
};

// A wait under a limit of minutes is sliced as well as one without any.
TEST(Notifications, PumpIsServedWhileAReadWaits) {
  for (const WaitLimit limit : {kWaitForever, WaitLimit(60000)}) {
    LoopbackServer server({[](Peer& peer) {
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      peer.Send("late\r\n");
      peer.ReadAll();
    }});
    TcpClient client;
    client.set_host("127.0.0.1");
    client.set_port(server.port());
    client.Connect();
    {
      CountingPump pump;
      pump.set_idle_timeout(50);
      EXPECT_EQ(CurrentGuiPump(), &pump);
      EXPECT_EQ(client.ReadLine({}, limit), "late");
      EXPECT_GE(pump.calls, 5) << limit.forever();
    }
    EXPECT_EQ(CurrentGuiPump(), nullptr);
    client.Disconnect();
    server.Join();
  }
}

// An intercept that carries the bytes itself (TLS) may never find the socket full: each write
// still gives the window its turn, or a send to a fast server would freeze it to the end.
TEST(Notifications, PumpIsServedAfterEachWriteThroughAnIntercept) {
  struct Swallowing : ConnectionIntercept {
    Swallowing() { set_handles_send(true); }
    long SendInstead(std::span<const char> bytes) override {
      return static_cast<long>(bytes.size());
    }
  } intercept;
  LoopbackServer server({[](Peer& peer) { peer.ReadAll(); }});
  TcpClient client;
  client.set_host("127.0.0.1");
  client.set_port(server.port());
  client.Connect();
  client.set_intercept(&intercept);
  client.set_intercept_enabled(true);
  {
    CountingPump pump;
    pump.set_only_when_idle(false);
    const std::string block(1000, 'x');
    for (int i = 0; i < 10; ++i) client.WriteBytes(block);
    EXPECT_GE(pump.calls, 10);
  }
  client.set_intercept(nullptr);
  client.Disconnect();
  server.Join();
}

TEST(Notifications, InterceptProperty) {
  TcpConnection connection;
  try {
    connection.set_intercept_enabled(true);
    FAIL() << "no exception";
  } catch (const InterceptPropIsNil& error) {
    EXPECT_STREQ(error.what(), "InterceptEnabled cannot be set to true when Intercept is nil.");
  }
  {
    ConnectionIntercept intercept;
    connection.set_intercept(&intercept);
    connection.set_intercept_enabled(true);
  }
  EXPECT_EQ(connection.intercept(), nullptr);
  EXPECT_FALSE(connection.intercept_enabled());
}

// Proxies.
struct ProxyRun {
  SocksInfo info;
  std::string host;
  int port = 0;
};

void ConnectThrough(const ProxyRun& run, int proxy_port, TcpClient& client) {
  SocksInfo info = run.info;
  info.host = "127.0.0.1";
  info.port = proxy_port;
  client.set_socks_info(info);
  client.set_host(run.host);
  client.set_port(run.port);
  client.Connect();
}

TEST(Socks, Version4AndFourA) {
  LoopbackServer server(
      {[](Peer& peer) {
         EXPECT_EQ(peer.ReadExactly(13),
                   Bytes({4, 1}) + Port(2525) + Bytes({127, 0, 0, 9}) + "user" + Bytes({0}));
         peer.Send(Bytes({0, 90, 0, 0, 0, 0, 0, 0}) + "220 through\r\n");
         peer.ReadAll();
       },
       [](Peer& peer) {
         EXPECT_EQ(peer.ReadExactly(21), Bytes({4, 1}) + Port(25) + Bytes({0, 0, 0, 1}) + "u" +
                                             Bytes({0}) + "mx.example" + Bytes({0}));
         peer.Send(Bytes({0, 90, 0, 0, 0, 0, 0, 0}) + "220 through\r\n");
         peer.ReadAll();
       }});
  for (int i = 0; i < 2; ++i) {
    TcpClient client;
    std::vector<std::string> statuses;
    client.set_on_status([&](NetComponent&, ConnectionStatus, const std::string& text) {
      statuses.push_back(text);
    });
    ProxyRun run;
    run.info.version = i == 0 ? SocksVersion::svSocks4 : SocksVersion::svSocks4A;
    run.info.user_id = i == 0 ? "user" : "u";
    run.host = i == 0 ? "127.0.0.9" : "mx.example";
    run.port = i == 0 ? 2525 : 25;
    ConnectThrough(run, server.port(), client);
    EXPECT_EQ(client.ReadLine(), "220 through");
    EXPECT_EQ(statuses, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected."}));
    client.Disconnect();
  }
  server.Join();
}

TEST(Socks, Version4Refusals) {
  const std::vector<std::pair<int, std::string>> cases = {
      {91, "Request rejected or failed."},
      {92, "Request rejected because SOCKS server cannot connect."},
      {93, "Request rejected because the client program and identd report different user-ids."},
      {17, "Unknown socks error."}};
  std::vector<LoopbackServer::Session> sessions;
  for (const auto& c : cases) {
    sessions.push_back([code = c.first](Peer& peer) {
      peer.ReadExactly(9);
      peer.Send(Bytes({0, code, 0, 0, 0, 0, 0, 0}));
      peer.ReadAll();
    });
  }
  LoopbackServer server(sessions);
  for (const auto& c : cases) {
    TcpClient client;
    ProxyRun run;
    run.info.version = SocksVersion::svSocks4;
    run.host = "127.0.0.1";
    try {
      ConnectThrough(run, server.port(), client);
      ADD_FAILURE() << "no exception";
    } catch (const SocksError& error) {
      EXPECT_EQ(error.what(), c.second);
    }
    client.Disconnect();
  }
  server.Join();
}

TEST(Socks, Version5ReplyForms) {
  // The rest of the reply depends on its address type; nothing of it may be left unread.
  const std::vector<std::string> tails = {
      Bytes({1, 10, 0, 0, 1}) + Port(25),               // IPv4
      Bytes({3, 4}) + "host" + Port(25),                // domain name
      Bytes({4}) + std::string(16, '\x01') + Port(25),  // IPv6
      Bytes({9, 0}) + Port(25),                         // unknown: two more bytes
  };
  std::vector<LoopbackServer::Session> sessions;
  for (const std::string& tail : tails) {
    sessions.push_back([tail](Peer& peer) {
      EXPECT_EQ(peer.ReadExactly(3), Bytes({5, 1, 0}));
      peer.Send(Bytes({5, 0}));
      EXPECT_EQ(peer.ReadExactly(17), Bytes({5, 1, 0, 3, 10}) + "mx.example" + Port(587));
      peer.Send(Bytes({5, 0, 0}) + tail + "220 after proxy\r\n");
      peer.ReadAll();
    });
  }
  LoopbackServer server(sessions);
  for (size_t i = 0; i < tails.size(); ++i) {
    TcpClient client;
    ProxyRun run;
    run.info.version = SocksVersion::svSocks5;
    run.host = "mx.example";
    run.port = 587;
    ConnectThrough(run, server.port(), client);
    EXPECT_EQ(client.ReadLine(), "220 after proxy") << i;
    client.Disconnect();
  }
  server.Join();
}

TEST(Socks, Version5WithPassword) {
  LoopbackServer server({[](Peer& peer) {
    EXPECT_EQ(peer.ReadExactly(3), Bytes({5, 1, 2}));
    peer.Send(Bytes({5, 2}));
    EXPECT_EQ(peer.ReadExactly(11), Bytes({1, 4}) + "jane" + Bytes({4}) + "pass");
    peer.Send(Bytes({1, 0}));
    peer.ReadExactly(7 + 5);
    peer.Send(Bytes({5, 0, 0, 1, 1, 2, 3, 4, 0, 25}) + "220 ok\r\n");
    peer.ReadAll();
  }});
  TcpClient client;
  ProxyRun run;
  run.info.version = SocksVersion::svSocks5;
  run.info.authentication = SocksAuthentication::saUsernamePassword;
  run.info.user_id = "jane";
  run.info.password = "pass";
  run.host = "mx.ex";
  run.port = 25;
  ConnectThrough(run, server.port(), client);
  EXPECT_EQ(client.ReadLine(), "220 ok");
  client.Disconnect();
  server.Join();
}

TEST(Socks, Version5Refusals) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {Bytes({5, 0xFF}), "Invalid socks authentication method."},
      {"<auth>" + Bytes({1, 1}), "Authentication error to socks server."},
      {"<close>", "Socks server did not respond."},
  };
  const std::vector<std::string> texts = {
      "General SOCKS server failure.", "Connection not allowed by ruleset.",
      "Network unreachable.",          "Host unreachable.",
      "Connection refused.",           "TTL expired.",
      "Command not supported.",        "Address type not supported.",
      "Unknown socks error."};
  for (size_t code = 1; code <= texts.size(); ++code) {
    cases.push_back({"<reply>" + Bytes({5, static_cast<int>(code), 0, 1, 0}), texts[code - 1]});
  }
  std::vector<LoopbackServer::Session> sessions;
  for (const auto& c : cases) {
    sessions.push_back([answer = c.first](Peer& peer) {
      const std::string greeting = peer.ReadExactly(3);
      const bool with_password = greeting[2] == 2;
      if (answer == "<close>") {
        peer.Close();
        return;
      }
      if (answer.rfind("<", 0) != 0) {
        peer.Send(answer);
      } else {
        peer.Send(Bytes({5, with_password ? 2 : 0}));
        if (with_password) {
          peer.ReadExactly(11);
          peer.Send(answer.substr(6));
        } else {
          peer.ReadExactly(7 + 5);
          peer.Send(answer.substr(7));
        }
      }
      peer.ReadAll();
    });
  }
  LoopbackServer server(sessions);
  for (const auto& c : cases) {
    TcpClient client;
    ProxyRun run;
    run.info.version = SocksVersion::svSocks5;
    if (c.first.rfind("<auth>", 0) == 0 || c.first == Bytes({5, 0xFF})) {
      run.info.authentication = SocksAuthentication::saUsernamePassword;
      run.info.user_id = "jane";
      run.info.password = "pass";
    }
    run.host = "mx.ex";
    try {
      ConnectThrough(run, server.port(), client);
      ADD_FAILURE() << "no exception for " << c.second;
    } catch (const SocksError& error) {
      EXPECT_EQ(error.what(), c.second);
    }
    client.Disconnect();
  }
  server.Join();
}

}  // namespace
}  // namespace tovrel::net
