// The floor of the end-to-end benchmarks: pushes a file that is already encoded as message text
// through a plain socket to an SMTP server with the least dialogue and the largest writes.
//
// Usage: tovrel_raw_push PORT FILE
// Sends EHLO, MAIL, RCPT and DATA, then the file as it is, the end-of-data line and QUIT.
// Prints "sent BYTES" (the message text, the end-of-data line excluded) on success.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/socket_io.h"

namespace tovrel::bench {
namespace {

constexpr std::size_t kBlockSize = 1 << 20;

void Expect(LineReader& reader, int code) {
  std::string line;
  int got = ReadReply(reader, &line);
  if (got != code) throw std::runtime_error("unexpected reply: " + line);
}

long long Push(int port, const std::string& path) {
  Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) ThrowErrno("open " + path);
  Fd socket = ConnectLoopback(port);
  LineReader reader(socket.get());
  Expect(reader, 220);
  SendAll(socket.get(), "EHLO bench.invalid\r\n");
  Expect(reader, 250);
  SendAll(socket.get(), "MAIL FROM:<sender@example.org>\r\n");
  Expect(reader, 250);
  SendAll(socket.get(), "RCPT TO:<rcpt@example.org>\r\n");
  Expect(reader, 250);
  SendAll(socket.get(), "DATA\r\n");
  Expect(reader, 354);

  std::vector<char> block(kBlockSize);
  long long sent = 0;
  std::string tail = "\r\n";  // the last two bytes sent
  for (;;) {
    ssize_t got = read(file.get(), block.data(), block.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("read " + path);
    }
    if (got == 0) break;
    SendAll(socket.get(), std::string_view(block.data(), static_cast<std::size_t>(got)));
    sent += got;
    tail.append(block.data(), static_cast<std::size_t>(got));
    tail.erase(0, tail.size() - 2);
  }
  // The end-of-data line must follow a CR LF; text with bare LF line ends gets one added.
  if (tail != "\r\n") {
    SendAll(socket.get(), "\r\n");
    sent += 2;
  }
  SendAll(socket.get(), ".\r\n");
  Expect(reader, 250);
  SendAll(socket.get(), "QUIT\r\n");
  Expect(reader, 221);
  return sent;
}

}  // namespace
}  // namespace tovrel::bench

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tovrel_raw_push PORT FILE\n");
    return 2;
  }
  try {
    long long sent = tovrel::bench::Push(std::stoi(argv[1]), argv[2]);
    std::printf("sent %lld\n", sent);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tovrel_raw_push: %s\n", e.what());
    return 1;
  }
}
