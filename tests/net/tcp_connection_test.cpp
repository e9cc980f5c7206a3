// The buffered connection and its reply reader against a loopback server of our own.

#include "net/tcp_connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "net/net_errors.h"
#include "net/send_observer.h"
#include "net/tcp_client.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tovrel::net {
namespace {

using test::LoopbackServer;
using test::Peer;

std::unique_ptr<TcpClient> ConnectTo(int port) {
  auto client = std::make_unique<TcpClient>();
  client->set_host("127.0.0.1");
  client->set_port(port);
  client->Connect();
  return client;
}

// Passes everything through but records how the connection split its sends, and can cut each
// send short to exercise the continuation of partial sends.
class RecordingIntercept : public ConnectionIntercept {
 public:
  explicit RecordingIntercept(size_t max_send = 0) : max_send_(max_send) { set_handles_send(true); }
  long SendInstead(std::span<const char> bytes) override {
    offered.push_back(bytes.size());
    size_t count = max_send_ > 0 ? std::min(max_send_, bytes.size()) : bytes.size();
    return binding()->SendBytes(bytes.data(), count, 0);
  }
  void AfterSend(std::span<const char> bytes) override { sent.append(bytes.data(), bytes.size()); }
  std::vector<size_t> offered;
  std::string sent;

 private:
  size_t max_send_;
};

TEST(ReadLine, LineEndsAndTerminators) {
  LoopbackServer server({[](Peer& peer) {
    peer.Send("one\r\ntwo\nthree\r\r\nfour\r\nfive\r\nrest");
    peer.ReadLine();
  }});
  auto client = ConnectTo(server.port());
  EXPECT_EQ(client->ReadLine(), "one");
  EXPECT_EQ(client->ReadLine(), "two");
  EXPECT_EQ(client->ReadLine(), "three\r");  // only one CR goes
  // An explicit terminator is cut off exactly; no further CR stripping.
  EXPECT_EQ(client->ReadLine("\r\n"), "four");
  EXPECT_EQ(client->ReadLine("ve\r"), "fi");
  EXPECT_EQ(client->ReadLine(), "");
  client->WriteLine("done");
  EXPECT_EQ(client->ReadLine({}, 100), "");
  EXPECT_TRUE(client->line_timed_out());
  EXPECT_EQ(client->input_buffer().view(), "rest");
  server.Join();
}

TEST(ReadLine, LineSplitOverManyReceivesKeepsFollowingBytes) {
  LoopbackServer server({[](Peer& peer) {
    peer.SendInPieces("220 split greeting\r\n250 next");
    peer.Send("\r\n");
    peer.ReadAll();
  }});
  auto client = ConnectTo(server.port());
  EXPECT_EQ(client->ReadLine(), "220 split greeting");
  EXPECT_EQ(client->ReadLine(), "250 next");
  client->Disconnect();
  server.Join();
}

TEST(ReadLine, PeerCloseWithAndWithoutPartialLine) {
  LoopbackServer server({[](Peer& peer) { peer.Send("whole\r\npartial"); }});
  auto client = ConnectTo(server.port());
  EXPECT_EQ(client->ReadLine(), "whole");
  EXPECT_EQ(client->ReadLine(), "");
  EXPECT_TRUE(client->line_timed_out());
  EXPECT_FALSE(client->binding().has_handle());
  EXPECT_THROW(client->ReadLine(), ConnClosedGracefully);
  // Bytes that came before the close can still be taken.
  EXPECT_EQ(client->TakeBytes(7), "partial");
  server.Join();

  LoopbackServer closing({[](Peer& peer) { peer.Close(); }});
  auto second = ConnectTo(closing.port());
  try {
    second->ReadLine();
    FAIL() << "no exception";
  } catch (const ConnClosedGracefully& error) {
    EXPECT_STREQ(error.what(), "Connection Closed Gracefully.");
  }
  closing.Join();
}

TEST(ReadLine, OverlongLineEndsTheRead) {
  LoopbackServer server({[](Peer& peer) {
    peer.Send(std::string(70000, 'x'));
    peer.ReadAll();
  }});
  auto client = ConnectTo(server.port());
  EXPECT_THROW(client->ReadLine(), LineTooLong);
  EXPECT_FALSE(client->binding().has_handle());
  server.Join();
}

TEST(ReadLine, LineJustBelowTheLimitIsRead) {
  std::string line(TcpConnection::kMaxLineLength, 'y');
  LoopbackServer server({[&line](Peer& peer) {
    peer.Send(line + "\r\n");
    peer.ReadAll();
  }});
  auto client = ConnectTo(server.port());
  EXPECT_EQ(client->ReadLine(), line);
  client->Disconnect();
  server.Join();
}

TEST(Buffer, TakeBytesBeyondBufferLeavesItUnchanged) {
  LoopbackServer server({[](Peer& peer) {
    peer.Send("abc\n");
    peer.ReadAll();
  }});
  auto client = ConnectTo(server.port());
  char four[4];
  client->ReadBytes(four);
  EXPECT_EQ(std::string(four, 4), "abc\n");
  client->WriteLine("more");
  try {
    client->TakeBytes(1);
    FAIL() << "no exception";
  } catch (const NotEnoughDataInBuffer& error) {
    EXPECT_STREQ(error.what(), "Not enough data in buffer.");
  }
  client->Disconnect();
  server.Join();
}

TEST(Buffer, AsciiFilterClearsTheTopBit) {
  LoopbackServer server({[](Peer& peer) {
    peer.Send("\xE9\xC1z\n");
    peer.ReadAll();
  }});
  auto client = ConnectTo(server.port());
  client->set_ascii_filter(true);
  EXPECT_EQ(client->ReadLine(), "iAz");
  client->Disconnect();
  server.Join();
}

TEST(Buffer, ReadUntilClosedCollectsEverything) {
  std::string payload = test::RandomBytes(300000, 7);
  LoopbackServer server({[&payload](Peer& peer) { peer.Send(payload); }});
  auto client = ConnectTo(server.port());
  EXPECT_TRUE(client->ReadUntilClosed() == payload);
  EXPECT_FALSE(client->IsConnected());
  server.Join();
}

TEST(Limits, SilentServerTimesOutAndCloses) {
  LoopbackServer server({[](Peer& peer) { peer.ReadAll(); }});
  auto client = ConnectTo(server.port());
  client->set_read_timeout(200);
  try {
    client->ReadNonEmptyLine();
    FAIL() << "no exception";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.error_number(), 10060);
    EXPECT_STREQ(error.what(), "Socket Error # 10060\r\nConnection timed out.");
  }
  EXPECT_FALSE(client->binding().has_handle());
  server.Join();
}

TEST(Limits, ServerThatStopsReadingTimesOutAWrite) {
  std::atomic<bool> done = false;
  LoopbackServer server({[&done](Peer&) {
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }});
  auto client = ConnectTo(server.port());
  client->set_write_timeout(200);
  std::string big(32 * 1024 * 1024, 'w');
  try {
    client->WriteBytes(big);
    FAIL() << "no exception";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.error_number(), 10060);
  }
  EXPECT_FALSE(client->binding().has_handle());
  done = true;
  server.Join();
}

TEST(Limits, ResetWhileReadingGivesTheResetError) {
  LoopbackServer server({[](Peer& peer) {
    peer.ReadLine();
    peer.Reset();
  }});
  auto client = ConnectTo(server.port());
  client->WriteLine("hello");
  try {
    client->ReadLine();
    FAIL() << "no exception";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.error_number(), 10054);
    EXPECT_STREQ(error.what(), "Socket Error # 10054\r\nConnection reset by peer.");
  }
  EXPECT_FALSE(client->IsConnected());
  server.Join();
}

TEST(Writing, PartialSendsAreContinued) {
  std::string payload = test::RandomBytes(100000, 11);
  LoopbackServer server(
      {[&payload](Peer& peer) { EXPECT_TRUE(peer.ReadExactly(payload.size()) == payload); }});
  RecordingIntercept intercept(7);
  TcpClient client;
  client.set_intercept(&intercept);
  client.set_intercept_enabled(true);
  client.set_host("127.0.0.1");
  client.set_port(server.port());
  client.Connect();
  client.WriteBytes(payload);
  EXPECT_TRUE(intercept.sent == payload);
  server.Join();
}

TEST(Writing, SlowReaderGetsEveryByte) {
  std::string payload = test::RandomBytes(3 * 1024 * 1024, 12);
  LoopbackServer server({[&payload](Peer& peer) {
    std::string got;
    while (got.size() < payload.size()) {
      got += peer.ReadExactly(std::min<size_t>(50000, payload.size() - got.size()));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(got == payload);
  }});
  auto client = ConnectTo(server.port());
  client->WriteBytes(payload);
  server.Join();
}

TEST(Writing, StreamGoesOutInSendBufferPiecesInOneWorkPhase) {
  std::string payload = test::RandomBytes(70000, 13);
  LoopbackServer server({[&payload](Peer& peer) {
    EXPECT_EQ(peer.ReadLine(), "outside any phase");
    EXPECT_TRUE(peer.ReadExactly(payload.size()) == payload);
  }});
  RecordingIntercept intercept;
  TcpClient client;
  std::vector<std::string> events;
  client.set_on_work_begin([&](NetComponent&, WorkMode mode, int64_t max) {
    events.push_back("begin " + std::to_string(static_cast<int>(mode)) + " " + std::to_string(max));
  });
  int64_t last_total = 0;
  int work_events = 0;
  client.set_on_work([&](NetComponent&, WorkMode mode, int64_t total) {
    EXPECT_EQ(mode, WorkMode::wkWrite);
    EXPECT_GT(total, last_total);
    last_total = total;
    ++work_events;
  });
  client.set_on_work_end([&](NetComponent&, WorkMode mode) {
    events.push_back("end " + std::to_string(static_cast<int>(mode)));
  });
  client.set_intercept(&intercept);
  client.set_intercept_enabled(true);
  client.set_host("127.0.0.1");
  client.set_port(server.port());
  client.Connect();
  client.WriteLine("outside any phase");
  EXPECT_EQ(work_events, 0);
  intercept.offered.clear();
  MemoryStream stream(payload);
  client.WriteStreamContents(stream);
  EXPECT_EQ(intercept.offered, (std::vector<size_t>{32768, 32768, 4464}));
  EXPECT_EQ(events, (std::vector<std::string>{"begin 1 70000", "end 1"}));
  EXPECT_EQ(last_total, 70000);
  server.Join();
}

// Bytes the peer has not taken are not written yet, though the socket took them: while the peer
// reads nothing the count stays below what was handed over, and it ends at the whole once the peer
// has read it all.
TEST(Writing, ProgressCountsOnlyWhatLeftTheSendQueue) {
  const std::string payload = test::RandomBytes(16 * 1024 * 1024, 17);
  std::promise<void> read;
  LoopbackServer server({[&](Peer& peer) {
    read.get_future().wait();
    EXPECT_TRUE(peer.ReadExactly(payload.size()) == payload);
  }});
  // Records what the socket took, without blocking in a send: a full queue is waited for.
  struct : RecordingIntercept {
    long SendInstead(std::span<const char> bytes) override {
      return binding()->SendBytes(bytes.data(), bytes.size(), MSG_DONTWAIT);
    }
  } handed;
  // A turn that finds nothing more handed over than the one before came after a wait that the
  // full send queue kept from ending: the peer has stopped taking bytes.
  struct Watch : SendObserver {
    explicit Watch(const std::string& sent) : sent(sent) {}
    void Total(int64_t) override {}
    void Progress(int64_t count) override { done = count; }
    SendTurn Yield() override {
      if (!stalled && !sent.empty() && sent.size() == handed_before) {
        stalled = true;
        done_at_stall = done;
        handed_at_stall = static_cast<int64_t>(sent.size());
        release();
      }
      handed_before = sent.size();
      return SendTurn::kGoOn;
    }
    int turn_interval() const override { return 10; }
    const std::string& sent;
    std::function<void()> release;
    size_t handed_before = 0;
    bool stalled = false;
    int64_t done = 0, done_at_stall = 0, handed_at_stall = 0;
  } watch(handed.sent);
  watch.release = [&read] { read.set_value(); };
  TcpClient client;
  client.set_intercept(&handed);
  client.set_intercept_enabled(true);
  client.set_host("127.0.0.1");
  client.set_port(server.port());
  client.Connect();
  {
    ObservedSend observed(client, watch);
    MemoryStream stream(payload);
    client.WriteStreamContents(stream);
  }
  ASSERT_TRUE(watch.stalled);
  EXPECT_LT(watch.done_at_stall, watch.handed_at_stall);
  EXPECT_EQ(watch.done, static_cast<int64_t>(payload.size()));
  server.Join();
}

TEST(Writing, GatheredOutputLeavesBeforeEachReplyIsRead) {
  LoopbackServer server({[](Peer& peer) {
    EXPECT_EQ(peer.ReadLine(), "one");
    EXPECT_EQ(peer.ReadLine(), "two");
    peer.Send("250 ok\r\n");
    EXPECT_EQ(peer.ReadLine(), "three");
    peer.Send("250 fine\r\n");
    peer.ReadAll();
  }});
  RecordingIntercept intercept;
  TcpClient client;
  client.set_intercept(&intercept);
  client.set_intercept_enabled(true);
  client.set_host("127.0.0.1");
  client.set_port(server.port());
  client.CreatePendingOutput(1024);
  client.Connect();
  client.WriteLine("one");
  client.WriteLine("two");
  EXPECT_TRUE(intercept.offered.empty());
  EXPECT_EQ(client.ReadReply({}), 250);
  EXPECT_EQ(intercept.offered, std::vector<size_t>{10});
  EXPECT_EQ(client.SendCommand("three", 250), 250);
  EXPECT_EQ(intercept.offered, (std::vector<size_t>{10, 7}));
  // Past the threshold the pending bytes go out without waiting for a read.
  client.WriteText(std::string(1500, 'z'));
  EXPECT_EQ(intercept.sent.size(), 17u + 1500u);
  client.Disconnect();
  server.Join();
}

TEST(Writing, ClosedConnectionRefusesWrites) {
  LoopbackServer server({[](Peer& peer) { peer.Close(); }});
  auto client = ConnectTo(server.port());
  EXPECT_THROW(client->ReadLine(), ConnClosedGracefully);
  EXPECT_THROW(client->WriteLine("late"), ConnClosedGracefully);
  server.Join();
}

// Reply reader: multi-line rules, blank lines, codes.
struct ReplyCase {
  std::string sent;
  std::vector<std::string> lines;
  int code;
};

TEST(ReadReply, ReplyForms) {
  const std::vector<ReplyCase> cases = {
      {"250-first\r\n250-second\r\n250 last\r\n", {"250-first", "250-second", "250 last"}, 250},
      {"250-first\r\n250\r\n", {"250-first", "250"}, 250},
      {"250-first\r\n251 other\r\n250 done\r\n", {"250-first", "251 other", "250 done"}, 250},
      {"\r\n  \r\n220-a\r\n\r\n220 b  \r\n", {"220-a", "220 b"}, 220},
      {"+OK ready\r\n", {"+OK ready"}, 1},
      {"-ERR nope\r\n", {"-ERR nope"}, 0},
      {"220 smtp.example ESMTP\r\n", {"220 smtp.example ESMTP"}, 220},
      {"hello there\r\n", {"hello there"}, 0},
      {"25\r\n", {"25"}, 25},
      {"250-x\r\n250 Y\r\n", {"250-x", "250 Y"}, 250},
  };
  std::vector<LoopbackServer::Session> sessions;
  for (const auto& c : cases) {
    sessions.push_back([sent = c.sent](Peer& peer) {
      peer.Send(sent);
      peer.ReadAll();
    });
  }
  LoopbackServer server(sessions);
  for (const auto& c : cases) {
    auto client = ConnectTo(server.port());
    EXPECT_EQ(client->ReadReply({}), c.code) << c.sent;
    EXPECT_EQ(client->reply_lines(), c.lines) << c.sent;
    EXPECT_EQ(client->LastReplyLine(), c.lines.back());
    client->Disconnect();
  }
  server.Join();
}

TEST(ReadReply, AllowedCodes) {
  LoopbackServer server({[](Peer& peer) {
    EXPECT_EQ(peer.ReadLine(), "first");
    peer.Send("500 5.5.1 what?\r\n");
    EXPECT_EQ(peer.ReadLine(), "second");
    peer.Send("500-5.5.1 multi\r\n500 5.5.1 still no\r\n");
    // The NUL command writes nothing, only reads.
    peer.Send("354 go\r\n");
    EXPECT_EQ(peer.ReadLine(), "");
    peer.Send("221 bye\r\n");
    peer.ReadAll();
  }});
  auto client = ConnectTo(server.port());
  EXPECT_EQ(client->SendCommand("first", -1), 500);
  try {
    client->SendCommand("second", 250);
    FAIL() << "no exception";
  } catch (const ProtocolReplyError& error) {
    EXPECT_EQ(error.reply_code(), 500);
    EXPECT_STREQ(error.what(), "500 5.5.1 still no");
    EXPECT_EQ(client->reply_lines().size(), 2u);
  }
  const int16_t allowed[] = {250, 354};
  EXPECT_EQ(client->SendCommand(std::string(1, '\0'), allowed), 354);
  EXPECT_EQ(client->SendCommand("", 221), 221);
  client->Disconnect();
  server.Join();
}

TEST(ReadReply, ReplyInOneBytePieces) {
  LoopbackServer server({[](Peer& peer) {
    peer.SendInPieces("250-mx.example\r\n250-AUTH LOGIN\r\n250 OK\r\n");
    peer.ReadAll();
  }});
  auto client = ConnectTo(server.port());
  EXPECT_EQ(client->ReadReply({}), 250);
  EXPECT_EQ(client->reply_lines().size(), 3u);
  client->Disconnect();
  server.Join();
}

}  // namespace
}  // namespace tovrel::net
