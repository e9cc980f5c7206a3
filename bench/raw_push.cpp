// The plain floors of the end-to-end benchmarks: a file already prepared as wire text (CR LF
// lines, dot-stuffed, without the end-of-data line) pushed through a plain socket to an SMTP server
// with the least dialogue: EHLO, MAIL, RCPT, DATA, each waiting for its reply, the text, the
// end-of-data line and QUIT.
//
// Usage: tovrel_raw_push [--sendfile] [--messages N] PORT FILE
// Without --sendfile the text is read into a buffer a megabyte at a time and written out (the
// "read-write push", kept for comparison). With --sendfile the kernel sends it from the page cache
// with sendfile(2): no byte of it passes through this process (the plain floor). With --messages
// the same text goes out N times over the one connection, MAIL, RCPT and DATA each time and RSET
// between (the outbox floor).
// Prints "sent BYTES" (the message texts, the end-of-data lines excluded) on success.

#include <sys/sendfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/smtp_client_steps.h"

namespace tovrel::bench {
namespace {

constexpr std::size_t kBlockSize = 1 << 20;

void ReadAndWrite(const WireFile& file, int socket) {
  file.ForEachBlock(kBlockSize, [socket](std::string_view block) { SendAll(socket, block); });
}

void SendFromPageCache(const WireFile& file, int socket) {
  off_t offset = 0;
  while (offset < file.size) {
    ssize_t sent =
        sendfile(socket, file.fd.get(), &offset, static_cast<std::size_t>(file.size - offset));
    if (sent < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("sendfile");
    }
    if (sent == 0) throw std::runtime_error("the file shrank while it was sent");
  }
}

long long Push(int port, const char* path, bool use_sendfile, int messages) {
  WireFile file(path);
  Fd socket = ConnectLoopback(port);
  LineReader reader(socket.get());
  SendFunction send = [&socket](std::string_view bytes) { SendAll(socket.get(), bytes); };
  Expect(reader, 220);
  Command(send, reader, "EHLO bench.invalid", 250);
  long long sent = 0;
  for (int i = 0; i < messages; ++i) {
    if (i > 0) Command(send, reader, "RSET", 250);
    StartMessage(send, reader);
    if (use_sendfile) {
      SendFromPageCache(file, socket.get());
    } else {
      ReadAndWrite(file, socket.get());
    }
    sent += file.size + static_cast<long long>(EndMessage(send, reader, file.ends_with_crlf));
  }
  Command(send, reader, "QUIT", 221);
  return sent;
}

}  // namespace
}  // namespace tovrel::bench

int main(int argc, char** argv) {
  bool use_sendfile = false;
  int messages = 1;
  int i = 1;
  for (; i < argc; ++i) {
    std::string_view option = argv[i];
    if (option == "--sendfile") {
      use_sendfile = true;
    } else if (option == "--messages" && i + 1 < argc) {
      messages = std::stoi(argv[++i]);
    } else {
      break;
    }
  }
  if (argc - i != 2 || messages < 1) {
    std::fprintf(stderr, "usage: tovrel_raw_push [--sendfile] [--messages N] PORT FILE\n");
    return 2;
  }
  try {
    long long sent = tovrel::bench::Push(std::stoi(argv[i]), argv[i + 1], use_sendfile, messages);
    std::printf("sent %lld\n", sent);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tovrel_raw_push: %s\n", e.what());
    return 1;
  }
}
