#pragma once

// A server of our own on 127.0.0.1 for the transport tests: it accepts one connection per
// session handler, in order, runs each handler on a thread, and records every byte it reads.
// Reads give up after a while so that a broken client never hangs the test run. Made to serve
// until stopped instead, it serves every connection with one handler until it is destroyed, its
// reads wait as long as it runs, and a test can hold the reading of a message in the middle.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tovrel::test {

// What a server that serves until stopped shares with its peers.
struct ServerControl {
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> stop{false};
  std::atomic<bool> held{false};
  std::atomic<bool> holding{false};
  std::mutex mutex;
  Clock::time_point first_byte_at{};
};

class Peer {
 public:
  explicit Peer(int fd, ServerControl* control = nullptr) : fd_(fd), control_(control) {}
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // One line without its LF (and without the CR before it); throws when the client closes first.
  std::string ReadLine();
  // Everything up to and including `marker`.
  std::string ReadUntil(std::string_view marker);
  std::string ReadExactly(size_t count);
  // The message text up to the line "." (not returned); while the server is held it reads no
  // more of it. Throws when the client closes first.
  void ReadMessage();
  // Everything until the client closes.
  std::string ReadAll();
  // True when the client closed without sending anything more within `wait`.
  bool ClientClosed(std::chrono::milliseconds wait = std::chrono::seconds(10));
  void Send(std::string_view bytes);
  // Sends every byte on its own, with a pause, so that the client sees them one at a time.
  void SendInPieces(std::string_view bytes);
  void Close();
  // Closes with an RST instead of an orderly close.
  void Reset();
  void SetReceiveBuffer(int bytes);

  const std::string& received() const { return received_; }

 private:
  // Reads what is there into pending_; false at end of stream.
  bool Fill();

  int fd_;
  ServerControl* control_;
  bool in_message_ = false;
  std::string received_;
  std::string pending_;
};

class LoopbackServer {
 public:
  using Session = std::function<void(Peer&)>;
  // `port` 0 takes a free one; any other throws std::runtime_error when it cannot be had.
  explicit LoopbackServer(std::vector<Session> sessions, int port = 0);
  struct UntilStopped {
    int receive_buffer = 0;  // of every connection; 0 keeps the system's
  };
  // Serves one connection after another with `session` until destroyed; what a session throws
  // ends only that connection.
  LoopbackServer(Session session, UntilStopped options);
  ~LoopbackServer();

  int port() const { return port_; }
  // While held, ReadMessage reads nothing until Release (or a long while, so that a test that
  // never releases fails instead of hanging).
  void Hold() { control_.held = true; }
  void Release() { control_.held = false; }
  // True while a session waits at the hold point.
  bool holding() const { return control_.holding; }
  int connections() const { return connections_; }
  int ended() const { return ended_; }  // connections whose session has returned
  // When the first byte from any client arrived; the epoch of the clock when none has.
  ServerControl::Clock::time_point first_byte_at();
  // Waits for every session to end and returns what each one read; a session that threw is
  // reported as a test failure. One that serves until stopped stops instead.
  std::vector<std::string> Join();

 private:
  void Run(std::vector<Session> sessions);
  void RunUntilStopped(Session session);

  ServerControl control_;
  std::atomic<int> connections_{0};
  std::atomic<int> ended_{0};
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::vector<std::string> received_;
  std::vector<std::string> errors_;
  bool joined_ = false;
};

// An SMTP-like session driven by a script of replies: the first is sent at once (the greeting),
// each further one after a command line arrives; after a "354" reply the message up to the line
// "." is read before the next reply. Each reply gets CR LF appended ("250-a\r\n250 b" sends two
// lines). Special replies: "<close>" closes, "<reset>" resets (after a "354" it resets as soon as
// the first message bytes arrive), "<silent>" stays silent until the client closes, "<stall>"
// after a "354" reads nothing more for two seconds from the first message byte, "<raw>x"
// sends x without CR LF, "<group>x" sends x (one reply per line) only once the lines up to "Data"
// are in, as the replies to a pipelined group whose last line (the reply to DATA) counts as the
// reply. When the script ends the session reads until the client closes.
LoopbackServer::Session SmtpScript(std::vector<std::string> replies, bool in_pieces = false);

}  // namespace tovrel::test
