// Addresses beyond a single IPv4 one: numeric IPv6 hosts, servers on the IPv6 loopback only, and
// Connect walking the addresses a lookup gave until one answers.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <atomic>
#include <string>
#include <vector>

#include "failure_text.h"
#include "http/async_socket.h"
#include "http/http_client.h"
#include "http/http_error.h"
#include "http/peer_address.h"
#include "socket_helpers.h"
#include "support/scripted_http_server.h"

namespace tovrel::http {
namespace {

using test::At;
using test::FailureOf;
using test::HttpReply;
using test::ScriptedServer;

TEST(PeerAddress, NumericFormsAreTakenAndNamesLeftToTheLookup) {
  struct Case {
    std::string text;
    int family;
    std::string numeric;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", AF_INET, "127.0.0.1"},
      {"::1", AF_INET6, "::1"},
      {"[::1]", AF_INET6, "::1"},
      {"2001:db8::25", AF_INET6, "2001:db8::25"},
      {"[2001:DB8:0::25]", AF_INET6, "2001:db8::25"},
  };
  for (const Case& c : cases) {
    std::optional<PeerAddress> address = PeerAddress::FromLiteral(c.text);
    ASSERT_TRUE(address.has_value()) << c.text;
    EXPECT_EQ(address->family(), c.family) << c.text;
    EXPECT_EQ(address->ToString(), c.numeric) << c.text;
    address->set_port(8080);
    EXPECT_EQ(address->port(), 8080) << c.text;
  }
  for (const char* name : {"localhost", "www.tovrel.example", "", "[127.0.0.1]", "[::1", "::1]",
                           "1.2.3", "2001:db8::zz"}) {
    EXPECT_FALSE(PeerAddress::FromLiteral(name).has_value()) << name;
  }
}

// Hands out fixed addresses for "localhost" and counts how often it was asked; runs on the
// lookup's worker thread.
HostLookup::Resolver FixedResolver(std::vector<PeerAddress> addresses, std::atomic<int>& asked) {
  return [addresses = std::move(addresses), &asked](const std::string& name) {
    ++asked;
    return name == "localhost" ? LookupResult{0, addresses} : LookupResult{11001, {}};
  };
}

class Ipv6Loopback : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";
  }
};

TEST_F(Ipv6Loopback, SocketReachesAServerOnIpv6AloneByItsAddress) {
  ScriptedServer server({{.reply = "hello\n", .line_request = true}}, "::1");
  for (const char* host : {"::1", "[::1]"}) {
    AsyncSocket socket;
    socket.set_host(host);
    socket.set_port(server.port());
    socket.set_time_out(5000);
    socket.Connect();
    EXPECT_EQ(socket.remote_address().ToString(), "::1") << host;
    EXPECT_EQ(socket.remote_address().port(), server.port()) << host;
    socket.Writeln("hi");
    EXPECT_EQ(socket.ReadLn(), "hello\n") << host;
    socket.Disconnect();
  }
}

TEST_F(Ipv6Loopback, ClientSendsTheBracketedHost) {
  ScriptedServer server({{.reply = HttpReply("HTTP/1.0 200 OK", "", "new")}}, "::1");
  const std::string port = std::to_string(server.port());
  const auto request = [&](const std::string& path) {
    return "GET " + path +
           " HTTP/1.0\r\nHost: [::1]\r\n"
           "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
           "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
           "Content-type: application/x-www-form-urlencoded\r\n"
           "\r\n";
  };
  HttpClient by_url;
  by_url.set_time_out(5000);
  by_url.Get("http://[::1]:" + port + "/updates/a.upd");
  EXPECT_EQ(by_url.host(), "::1");
  EXPECT_EQ(by_url.body(), "new");
  EXPECT_EQ(server.NextRequest(), request("/updates/a.upd"));

  HttpClient by_host;
  by_host.set_time_out(5000);
  by_host.set_host("::1");
  by_host.set_port(server.port());
  by_host.Get("/b");
  EXPECT_EQ(by_host.body(), "new");
  EXPECT_EQ(server.NextRequest(), request("/b"));
}

class AddressWalk : public Ipv6Loopback {
 protected:
  // Connects to "localhost" at `port`, which the fake resolver turns into ::1, then 127.0.0.1.
  void Connect(int port, int time_out = 5000) {
    socket_.set_resolver(FixedResolver({At("::1", 0), At("127.0.0.1", 0)}, asked_));
    socket_.set_on_connect([this](AsyncSocket&) { ++connects_; });
    socket_.set_on_connection_failed([this](AsyncSocket&) { ++failures_; });
    socket_.set_host("localhost");
    socket_.set_port(port);
    socket_.set_time_out(time_out);
    socket_.Connect();
  }
  AsyncSocket socket_;
  std::atomic<int> asked_ = 0;
  int connects_ = 0;
  int failures_ = 0;
};

TEST_F(AddressWalk, RefusedIpv6AddressGivesWayToTheIpv4One) {
  ScriptedServer server{{.reply = "hello\n", .line_request = true}};
  test::ClosedPort refusing("::1", server.port());
  Connect(server.port());
  EXPECT_EQ(asked_, 1);
  EXPECT_EQ(connects_, 1);
  EXPECT_EQ(failures_, 0);
  EXPECT_EQ(socket_.remote_address().ToString(), "127.0.0.1");
  socket_.Writeln("hi");
  EXPECT_EQ(socket_.ReadLn(), "hello\n");
}

// Each address has its own time-out; the one that ends a silent attempt must not cancel the next.
TEST_F(AddressWalk, SilentAddressCostsOneTimeOutThenTheNextAnswers) {
  ScriptedServer server{{.reply = "hello\n", .line_request = true}};
  test::FullListener silent("::1", server.port());
  QElapsedTimer clock;
  clock.start();
  Connect(server.port(), 400);
  EXPECT_GE(clock.elapsed(), 350);
  EXPECT_TRUE(socket_.connected());
  socket_.Writeln("hi");
  EXPECT_EQ(socket_.ReadLn(), "hello\n");
}

TEST_F(AddressWalk, WhenEveryAddressRefusesTheLastFailureIsRaised) {
  test::ClosedPort v4("127.0.0.1");
  test::ClosedPort v6("::1", v4.port());
  EXPECT_EQ(FailureOf<SockError>([&] { Connect(v4.port()); }), "Connection Failed");
  EXPECT_EQ(socket_.last_error_no(), 10061);
  EXPECT_EQ(failures_, 1);
  EXPECT_EQ(connects_, 0);
  EXPECT_FALSE(socket_.connected());
  EXPECT_EQ(socket_.remote_address().ToString(), "127.0.0.1");  // both were tried, in order
}

TEST(HostLookup, AnswerWithoutAddressesIsNoData) {
  AsyncSocket socket;
  std::atomic<int> asked = 0;
  socket.set_resolver(FixedResolver({}, asked));
  socket.set_host("localhost");
  socket.set_port(80);
  EXPECT_EQ(FailureOf<SockError>([&] { socket.Connect(); }), "Null Remote Address");
  EXPECT_EQ(socket.last_error_no(), 11004);
  EXPECT_EQ(asked, 1);
}

}  // namespace
}  // namespace tovrel::http
