#include "http/async_socket.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cerrno>
#include <string>
#include <vector>

#include "failure_text.h"
#include "http/http_error.h"
#include "http/socket_error_table.h"
#include "socket_helpers.h"
#include "support/scripted_http_server.h"
#include "support/test_support.h"

namespace tovrel::http {
namespace {

using test::FailureOf;
using test::HttpReply;
using test::ScriptedServer;
using test::ServerStep;

// Serves the event queue for a while, as the idle GUI would.
void Idle(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

TEST(SocketErrorText, NumbersFromTheTableAndBeyond) {
  EXPECT_EQ(SocketErrorText(10061), "10061:Connection refused");
  EXPECT_EQ(SocketErrorText(10049), "10049:Can't assign requested address");
  EXPECT_EQ(SocketErrorText(11003), "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP");
  EXPECT_EQ(SocketErrorText(12345), "Unknown Error No. 12345");
  EXPECT_EQ(SocketErrorText(10000), "Unknown Error No. 10000");
}

TEST(SocketErrorText, SystemErrorsMapOntoTheirTableRows) {
  const std::vector<std::pair<int, int>> mapped = {
      {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},    {ECONNRESET, 10054},  {EADDRINUSE, 10048},
      {ENETUNREACH, 10051},  {EHOSTUNREACH, 10065}, {EPIPE, 10058},       {ESHUTDOWN, 10058},
      {EWOULDBLOCK, 10035},  {EAGAIN, 10035},       {EINPROGRESS, 10036}, {ENOTCONN, 10057},
      {ENOTSOCK, 10038},     {EMSGSIZE, 10040},     {EREMOTE, 10071}};
  for (const auto& [system_errno, number] : mapped) {
    EXPECT_EQ(SocketErrorFromErrno(system_errno), number) << "errno " << system_errno;
  }
  // An errno without a row must still count as an error (above 10000) and not pose as another.
  const int unmapped = SocketErrorFromErrno(ENOENT);
  EXPECT_GT(unmapped, 10000);
  EXPECT_EQ(SocketErrorText(unmapped).rfind("Unknown Error No. ", 0), 0u);
}

TEST(AsyncSocketConnect, RefusedPortFailsAfterNotifying) {
  AsyncSocket socket;
  socket.set_host("127.0.0.1");
  socket.set_port(test::RefusedPort());
  socket.set_time_out(5000);
  int failed = 0;
  socket.set_on_connection_failed([&](AsyncSocket&) { ++failed; });
  EXPECT_EQ(FailureOf<SockError>([&] { socket.Connect(); }), "Connection Failed");
  EXPECT_EQ(failed, 1);
  EXPECT_FALSE(socket.connected());
}

TEST(AsyncSocketConnect, InvalidHostHandlerMayOfferAnotherHost) {
  ScriptedServer server{{.reply = "hello\r\n", .line_request = true}};
  AsyncSocket socket;
  socket.set_host(test::kUnresolvableHost);
  socket.set_port(server.port());
  socket.set_time_out(5000);
  int asked = 0;
  socket.set_on_invalid_host([&](AsyncSocket& sender, bool& handled) {
    ++asked;
    sender.set_host("localhost");  // resolved by name, not taken as a dotted address
    handled = true;
  });
  int resolved = 0;
  socket.set_on_host_resolved([&](AsyncSocket&) { ++resolved; });
  socket.Connect();
  EXPECT_TRUE(socket.connected());
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(resolved, 1);
  socket.Writeln("hi");
  EXPECT_EQ(socket.ReadLn(), "hello\r\n");
}

TEST(AsyncSocketConnect, HandlerIsAskedOnlyOnce) {
  AsyncSocket socket;
  socket.set_host(test::kUnresolvableHost);
  socket.set_port(80);
  int asked = 0;
  socket.set_on_invalid_host([&](AsyncSocket& sender, bool& handled) {
    ++asked;
    sender.set_host("y" + test::kUnresolvableHost);
    handled = true;
  });
  EXPECT_EQ(FailureOf<SockError>([&] { socket.Connect(); }), "Null Remote Address");
  EXPECT_EQ(asked, 1);
}

TEST(AsyncSocketConnect, SecondConnectWhileConnectedIsRefused) {
  ScriptedServer server{{.silent = true}};
  AsyncSocket socket;
  socket.set_host("127.0.0.1");
  socket.set_port(server.port());
  int connects = 0;
  socket.set_on_connect([&](AsyncSocket&) { ++connects; });
  socket.Connect();
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(FailureOf<SockError>([&] { socket.Connect(); }), "Already connected");
  EXPECT_TRUE(socket.connected());
}

TEST(AsyncSocketConnect, ReconnectsAfterDisconnect) {
  ScriptedServer server{{.reply = "one\n", .line_request = true},
                        {.reply = "two\n", .line_request = true}};
  AsyncSocket socket;
  socket.set_host("127.0.0.1");
  socket.set_port(server.port());
  socket.set_time_out(5000);
  int disconnects = 0;
  socket.set_on_disconnect([&](AsyncSocket&) { ++disconnects; });
  for (const char* expected : {"one\n", "two\n"}) {
    socket.Connect();
    socket.Writeln("x");
    EXPECT_EQ(socket.ReadLn(), expected);
    socket.Disconnect();
    EXPECT_FALSE(socket.connected());
  }
  EXPECT_EQ(disconnects, 2);
}

TEST(AsyncSocketConnect, PeerCloseIsNoticedWhileIdle) {
  ScriptedServer server{{.reply = "", .line_request = true}};
  AsyncSocket socket;
  socket.set_host("127.0.0.1");
  socket.set_port(server.port());
  int disconnects = 0;
  socket.set_on_disconnect([&](AsyncSocket&) { ++disconnects; });
  socket.Connect();
  socket.Writeln("bye");
  server.NextRequest();
  for (int i = 0; i < 100 && socket.connected(); ++i) Idle(20);
  EXPECT_FALSE(socket.connected());
  EXPECT_EQ(disconnects, 1);
}

class AsyncSocketTransfer : public ::testing::Test {
 protected:
  void Open(ScriptedServer& server, int time_out = 5000) {
    socket_.set_host("127.0.0.1");
    socket_.set_port(server.port());
    socket_.set_time_out(time_out);
    socket_.Connect();
  }
  AsyncSocket socket_;
};

TEST_F(AsyncSocketTransfer, ReadLnTakesOneLineAndLeavesTheRest) {
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 200 OK", "Server: x\nA: b\r\n", "body")}};
  Open(server);
  socket_.Write("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(socket_.ReadLn(), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(socket_.ReadLn(), "Server: x\n");
  EXPECT_EQ(socket_.ReadLn(), "A: b\r\n");
  EXPECT_EQ(socket_.ReadLn(), "\r\n");
  EXPECT_EQ(socket_.CaptureString(), "body");
  EXPECT_EQ(socket_.bytes_recvd(), 4);
}

TEST_F(AsyncSocketTransfer, ReadLnAssemblesALineFromSinglePieces) {
  ScriptedServer server({{.reply = "a line in pieces\r\nnext",
                          .chunk = 1,
                          .chunk_delay = 0.002,
                          .line_request = true}});
  Open(server);
  socket_.Writeln("go");
  EXPECT_EQ(socket_.ReadLn(), "a line in pieces\r\n");
  // The peer closes before the second line is complete: what was taken is discarded.
  EXPECT_EQ(socket_.ReadLn(), "");
}

TEST_F(AsyncSocketTransfer, ReadLnAcceptsTheLongestLineAndRefusesALongerOne) {
  const std::string longest = std::string(AsyncSocket::kLineBufferSize - 1, 'x') + "\n";
  const std::string too_long(AsyncSocket::kLineBufferSize + 10, 'y');
  ScriptedServer server{{.reply = longest + too_long + "\n", .line_request = true}};
  Open(server);
  socket_.Writeln("go");
  EXPECT_EQ(socket_.ReadLn(), longest);
  EXPECT_EQ(FailureOf<SockError>([&] { socket_.ReadLn(); }), "Reply line longer than 65536 bytes");
}

TEST_F(AsyncSocketTransfer, SilentPeerEndsReadLnThroughTheTimeOut) {
  ScriptedServer server{{.keep_open = true, .line_request = true}};
  Open(server, 300);
  socket_.Writeln("anyone?");
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(FailureOf<AbortError>([&] { socket_.ReadLn(); }), "Socket readln aborted");
  EXPECT_GE(clock.elapsed(), 250);
  EXPECT_TRUE(socket_.timed_out());
  EXPECT_FALSE(socket_.canceled());  // cleared by the operation that raised
}

TEST_F(AsyncSocketTransfer, CaptureStringTakesSingleBytePieces) {
  const std::string body = test::RandomBytes(300, 7);
  ScriptedServer server{{.reply = body, .chunk = 1, .chunk_delay = 0.001, .line_request = true}};
  Open(server);
  int packets = 0;
  socket_.set_on_packet_recvd([&](AsyncSocket&) { ++packets; });
  socket_.Writeln("go");
  EXPECT_EQ(socket_.CaptureString(), body);
  EXPECT_GT(packets, 1);
  EXPECT_EQ(socket_.bytes_recvd(), 300);
}

TEST_F(AsyncSocketTransfer, CaptureTimeOutMeasuresSilenceNotTheWholeTransfer) {
  // Ten pieces 150 ms apart take 1.35 s, far beyond the 800 ms time-out, yet no gap reaches it.
  ScriptedServer server{
      {.reply = "0123456789", .chunk = 1, .chunk_delay = 0.15, .line_request = true}};
  Open(server, 800);
  socket_.Writeln("go");
  EXPECT_EQ(socket_.CaptureString(), "0123456789");
}

TEST_F(AsyncSocketTransfer, CaptureStringStopsAtItsLimit) {
  const std::string body = test::RandomBytes(200000, 3);
  ScriptedServer server{{.reply = body, .keep_open = true, .line_request = true}};
  Open(server);
  socket_.Writeln("go");
  EXPECT_EQ(socket_.CaptureString(100001), body.substr(0, 100001));
}

TEST_F(AsyncSocketTransfer, CaptureFileWritesEveryByte) {
  const std::string body = test::RandomBytes(300000, 11);
  ScriptedServer server{{.reply = body, .chunk = 70000, .line_request = true}};
  Open(server);
  test::TempDir dir;
  socket_.Writeln("go");
  socket_.CaptureFile(dir.File("body.bin"));
  EXPECT_EQ(test::ReadFile(dir.File("body.bin")), body);
}

TEST_F(AsyncSocketTransfer, SendFileAndWriteSendEveryByte) {
  const std::string file_bytes = test::RandomBytes(200000, 5);
  test::TempDir dir;
  test::WriteFile(dir.File("send.bin"), file_bytes);
  ScriptedServer server{{.reply = ""}};
  Open(server);
  const std::string with_nul = std::string("a\0b", 3);
  const std::string length = std::to_string(with_nul.size() + file_bytes.size());
  socket_.Write("PUT / HTTP/1.0\r\nContent-Length: " + length + "\r\n\r\n");
  socket_.Write(with_nul);
  int packets = 0;
  socket_.set_on_packet_sent([&](AsyncSocket&) { ++packets; });
  socket_.SendFile(dir.File("send.bin"));
  const std::string request = server.NextRequest();
  EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4), with_nul + file_bytes);
  EXPECT_EQ(socket_.bytes_sent(), std::int64_t(file_bytes.size()));
  EXPECT_GE(packets, 1);
}

TEST_F(AsyncSocketTransfer, SendBufferWithoutLengthStopsAtNul) {
  ScriptedServer server{{.line_request = true}};
  Open(server);
  socket_.SendBuffer(std::string_view("abc\0def\n", 8), 0);
  socket_.SendBuffer(std::string_view("xyz\n", 4), 4);
  EXPECT_EQ(server.NextRequest(), "abcxyz\n");
}

TEST_F(AsyncSocketTransfer, TransactionReadsTheReplyNumber) {
  ScriptedServer server{{.reply = "250 Fine\r\n", .line_request = true}};
  Open(server);
  socket_.set_report_level(1);
  std::vector<std::string> statuses;
  socket_.set_on_status([&](AsyncSocket&, const std::string& text) { statuses.push_back(text); });
  EXPECT_EQ(socket_.Transaction("NOOP"), "250 Fine\r\n");
  EXPECT_EQ(socket_.reply_number(), 250);
  EXPECT_EQ(socket_.last_reply(), "250 Fine\r\n");
  EXPECT_EQ(statuses, std::vector<std::string>{"250 Fine\r\n"});
  EXPECT_EQ(server.NextRequest(), "NOOP\r\n");
}

TEST_F(AsyncSocketTransfer, CancelFromAnEventStopsTheWait) {
  ScriptedServer server{{.keep_open = true, .line_request = true}};
  Open(server, 0);  // no time-out: only the cancel can end it
  socket_.Writeln("go");
  QTimer::singleShot(100, [this] { socket_.Cancel(); });
  EXPECT_EQ(FailureOf<AbortError>([&] { socket_.ReadLn(); }), "Socket readln aborted");
  EXPECT_FALSE(socket_.timed_out());
}

TEST(AsyncSocketStatus, ReportLevelChoosesTheTexts) {
  ScriptedServer server{{.silent = true}};
  for (const int level : {0, 4, 8}) {
    AsyncSocket socket;
    socket.set_report_level(level);
    std::vector<std::string> statuses;
    socket.set_on_status([&](AsyncSocket&, const std::string& text) { statuses.push_back(text); });
    socket.set_host("127.0.0.1");
    socket.set_port(server.port());
    socket.Connect();
    socket.Disconnect();
    const auto has = [&](const char* text) {
      return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
    };
    EXPECT_EQ(has("Connecting"), level >= 8) << level;
    EXPECT_EQ(has("Resolve Host"), level >= 8) << level;
    EXPECT_EQ(has("Disconnecting"), level >= 8) << level;
    EXPECT_EQ(has("Request Close Socket"), level >= 4) << level;
    if (level == 0) {
      EXPECT_TRUE(statuses.empty());
    } else {
      EXPECT_EQ(socket.status_text(), statuses.back());
    }
  }
}

TEST(AsyncSocketStatus, AFailingStatusHandlerDoesNotDisturbTheSocket) {
  ScriptedServer server{{.reply = "ok\n", .line_request = true}};
  AsyncSocket socket;
  socket.set_report_level(8);
  socket.set_on_status([](AsyncSocket&, const std::string&) { throw std::runtime_error("boom"); });
  socket.set_host("127.0.0.1");
  socket.set_port(server.port());
  socket.set_time_out(5000);
  socket.Connect();
  socket.Writeln("go");
  EXPECT_EQ(socket.ReadLn(), "ok\n");
}

}  // namespace
}  // namespace tovrel::http
