// The connect phase as a whole: the lookup runs beside the window, which keeps its turns and can
// cancel it; addresses that never answer share one limit; a zone on an IPv6 literal is kept.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "net/net_errors.h"
#include "net/send_observer.h"
#include "net/socket_stack.h"
#include "net/tcp_client.h"
#include "support/test_support.h"

namespace tovrel::net {
namespace {

// Asks to stop on its third turn, as the window does when the user presses Cancel.
class CancellingObserver : public SendObserver {
 public:
  void Total(int64_t) override {}
  void Progress(int64_t) override {}
  SendTurn Yield() override { return ++turns == 3 ? SendTurn::kStop : SendTurn::kGoOn; }
  int turn_interval() const override { return 20; }
  int turns = 0;
};

// A lookup that does not answer: the phase limit ends the wait, and so does a cancel from the
// window; the lookup that finishes afterwards finds nobody waiting and does no harm.
TEST(ConnectPhase, ALookupThatHangsEndsWithTheLimitOrACancel) {
  struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    std::promise<void> finished;
  };
  for (const bool with_pump : {false, true}) {
    auto gate = std::make_shared<Gate>();
    TcpClient client;
    client.set_host("mail.example.test");
    client.set_port(test::RefusedPort());
    client.set_resolver([gate](const std::string&) {
      gate->opened.wait_for(std::chrono::seconds(5));
      gate->finished.set_value();
      return std::vector<std::string>{"127.0.0.1"};
    });
    if (with_pump) {
      CancellingObserver observer;
      ObservedSend observed(client, observer);
      EXPECT_THROW(client.Connect(), SendCancelled);
      EXPECT_EQ(observer.turns, 3);
    } else {
      client.set_connect_phase_timeout(200);
      try {
        client.Connect();
        ADD_FAILURE() << "no exception";
      } catch (const SocketError& e) {
        EXPECT_EQ(e.error_number(), kErrorTryAgain);
      }
    }
    EXPECT_FALSE(client.IsConnected());
    gate->open.set_value();
    gate->finished.get_future().wait();
  }
}

TEST(ConnectPhase, AddressesThatNeverAnswerShareOneLimit) {
  test::UnansweredPort silent;
  TcpClient client;
  client.set_host("mail.example.test");
  client.set_port(silent.port());
  client.set_resolver([](const std::string&) {
    return std::vector<std::string>{"127.0.0.1", "127.0.0.1", "127.0.0.1"};
  });
  client.set_connect_timeout(400);
  client.set_connect_phase_timeout(600);
  int tried = 0;
  client.set_on_status([&](NetComponent&, ConnectionStatus status, const std::string&) {
    tried += status == ConnectionStatus::stConnecting;
  });
  try {
    client.Connect();
    FAIL() << "no exception";
  } catch (const SocketError& e) {
    EXPECT_EQ(e.error_number(), kErrorTimedOut);
  }
  EXPECT_LT(tried, 3);
}

TEST(ConnectPhase, AZoneOnAnIpv6LiteralIsKept) {
  EXPECT_EQ(SystemStack::Ipv6Literal("[fe80::1%lo]"), "fe80::1%lo");
  EXPECT_EQ(SystemStack::Ipv6Literal("fe80::1%1"), "fe80::1%1");
  EXPECT_EQ(SystemStack::Ipv6Literal("fe80::1%no-such-interface"), "");
  if (!test::HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback";
  int port = 0;
  const int listener = test::LoopbackSocket(port, 1, AF_INET6);
  TcpClient client;
  client.set_host("[::1%lo]");
  client.set_port(port);
  EXPECT_NO_THROW(client.Connect());
  EXPECT_TRUE(client.IsConnected());
  client.Disconnect();
  ::close(listener);
}

}  // namespace
}  // namespace tovrel::net
