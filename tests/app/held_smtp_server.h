#pragma once

// A small SMTP server on 127.0.0.1 that a test can hold in the middle of a message: while held it
// reads nothing of the message text, so the client's writes back up and its send stays in
// progress for as long as the test needs (20 seconds at most, so that a test whose window is not
// served while it sends fails instead of hanging). It serves one connection after another on a
// thread of its own until it is destroyed, and notes when the first byte of the first connection
// arrived and how each connection ended.

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace tovrel::test {

class HeldSmtpServer {
 public:
  using Clock = std::chrono::steady_clock;

  HeldSmtpServer();
  ~HeldSmtpServer();
  HeldSmtpServer(const HeldSmtpServer&) = delete;
  HeldSmtpServer& operator=(const HeldSmtpServer&) = delete;

  int port() const { return port_; }

  void Hold() { held_ = true; }
  void Release() { held_ = false; }
  // True while a connection is inside the message text and held there.
  bool holding() const { return held_ && in_message_; }

  // Messages taken whole (their final "." read and answered).
  int messages() const { return messages_; }
  int connections() const { return connections_; }
  // Connections that have ended, and of them those the client closed inside the message text.
  int ended() const { return ended_; }
  int cut_off() const { return cut_off_; }
  // When the first byte from any client arrived; the epoch of Clock when none has.
  Clock::time_point first_byte_at() const;

 private:
  void Run();
  // One connection; returns when the client is gone or the server stops.
  void Serve(int fd);

  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> held_{false};
  std::atomic<bool> in_message_{false};
  std::atomic<int> messages_{0};
  std::atomic<int> connections_{0};
  std::atomic<int> ended_{0};
  std::atomic<int> cut_off_{0};
  mutable std::mutex mutex_;
  Clock::time_point first_byte_at_{};
  std::thread thread_;
};

}  // namespace tovrel::test
