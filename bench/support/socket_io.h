#pragma once

// Small blocking socket helpers shared by the benchmark's SMTP sink and its raw pusher. They
// talk to 127.0.0.1 only.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace tovrel::bench {

// An owned file descriptor, closed on destruction.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd();
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Throws std::runtime_error with `what` and the text of errno.
[[noreturn]] void ThrowErrno(const std::string& what);

// A listening TCP socket on 127.0.0.1; port 0 picks a free one.
Fd ListenLoopback(int port);
int LocalPort(int fd);
Fd ConnectLoopback(int port);

// Sends every byte, continuing after partial sends; throws on failure.
void SendAll(int fd, std::string_view bytes);

// Receives at most `size` bytes into `area`, waiting for at least one; returns the count, 0 once
// the peer closed. Throws on failure.
using ReceiveFunction = std::function<std::size_t(char* area, std::size_t size)>;

// Receives from a socket with recv, continuing after interruptions.
std::size_t ReceiveSome(int fd, char* area, std::size_t size);

// Reads CR LF (or LF) terminated lines with large reads, keeping what follows a line for the next
// call. The bytes come from a socket, or from whatever `receive` reads (a TLS session).
class LineReader {
 public:
  explicit LineReader(int fd);
  explicit LineReader(ReceiveFunction receive) : receive_(std::move(receive)) {}
  // The next line without its line end; false when the peer closed before a whole line came.
  bool ReadLine(std::string& line);
  // Bytes received but not yet consumed by ReadLine.
  std::string& pending() { return pending_; }
  // Receives once into `pending()`; returns the byte count (0 when the peer closed).
  std::size_t Fill(std::size_t max_bytes);

 private:
  ReceiveFunction receive_;
  std::string pending_;
  std::size_t scanned_ = 0;  // bytes of pending_ already searched for a line end
};

// Reads one SMTP reply (all of its lines) and returns its code; throws when the peer closes.
int ReadReply(LineReader& reader, std::string* last_line = nullptr);

}  // namespace tovrel::bench
