// A discard SMTP server for the benchmarks: accepts every message on 127.0.0.1 and throws it
// away, reading DATA with large receives so that it is never what limits a sender.
//
// Usage: tovrel_smtp_sink [--dump DIR] [PORT]   (no PORT or 0: a free port)
// Prints the port on the first line of standard output, then one line
// "message BYTES RECIPIENTS" per message taken, where BYTES counts the message text between the
// 354 reply and the end-of-data line (that line excluded, dot-stuffing not undone). With --dump
// each message text is also kept as DIR/NNNNNN.eml (written before its line is printed), so that
// a check can read what a sender really sent. Serves until it is killed.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/socket_io.h"

namespace tovrel::bench {
namespace {

constexpr std::size_t kDataReadSize = 1 << 20;
constexpr std::string_view kEndOfData = "\r\n.\r\n";

std::mutex output_mutex;
std::string dump_dir;  // empty: messages are discarded
std::atomic<int> dump_count = 0;

void DumpMessage(const std::string& text) {
  char name[32];
  std::snprintf(name, sizeof name, "/%06d", ++dump_count);
  std::string base = dump_dir + name;
  {
    std::ofstream out(base + ".tmp", std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + base + ".tmp");
  }
  std::filesystem::rename(base + ".tmp", base + ".eml");
}

void ReportMessage(long long bytes, int recipients) {
  std::lock_guard lock(output_mutex);
  std::printf("message %lld %d\n", bytes, recipients);
  std::fflush(stdout);
}

std::string Verb(const std::string& line) {
  std::string verb = line.substr(0, line.find(' '));
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

// Reads the message text after a 354 reply up to its end-of-data line. `pending` holds what was
// received after the DATA command; on return it holds what followed the end-of-data line.
// Returns the size of the message text, or -1 when the peer closed first. With `dump` the text
// itself is collected there.
long long ReceiveData(int fd, std::string& pending, std::vector<char>& buffer, std::string* dump) {
  // The DATA command's own line end counts as the line end before an immediate "." line.
  std::string carry = "\r\n";
  long long consumed = 0;  // message bytes before the current chunk
  std::string first = std::move(pending);
  pending.clear();
  std::string_view chunk = first;
  for (;;) {
    if (dump != nullptr) dump->append(chunk);
    // A terminator may straddle the previous chunk and this one.
    std::string boundary = carry;
    boundary.append(chunk.substr(0, std::min<std::size_t>(chunk.size(), kEndOfData.size() - 1)));
    std::size_t at = boundary.find(kEndOfData);
    long long dot = -1;  // position of the terminator's "." relative to the chunk start
    long long end = -1;  // position just after the terminator
    if (at != std::string::npos) {
      dot = static_cast<long long>(at + 2) - static_cast<long long>(carry.size());
      end = static_cast<long long>(at + kEndOfData.size()) - static_cast<long long>(carry.size());
    } else {
      const void* found = memmem(chunk.data(), chunk.size(), kEndOfData.data(), kEndOfData.size());
      if (found != nullptr) {
        long long offset = static_cast<const char*>(found) - chunk.data();
        dot = offset + 2;
        end = offset + static_cast<long long>(kEndOfData.size());
      }
    }
    if (end >= 0) {
      pending.assign(chunk.substr(static_cast<std::size_t>(end)));
      if (dump != nullptr) dump->resize(static_cast<std::size_t>(consumed + dot));
      return consumed + dot;
    }
    consumed += static_cast<long long>(chunk.size());
    std::string joined = carry;
    joined.append(chunk.substr(chunk.size() - std::min(chunk.size(), kEndOfData.size() - 1)));
    carry = joined.substr(joined.size() - std::min(joined.size(), kEndOfData.size() - 1));

    ssize_t got;
    do {
      got = recv(fd, buffer.data(), buffer.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return -1;
    chunk = std::string_view(buffer.data(), static_cast<std::size_t>(got));
  }
}

void Serve(Fd connection) {
  int one = 1;
  setsockopt(connection.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  LineReader reader(connection.get());
  std::vector<char> buffer(kDataReadSize);
  std::string replies = "220 tovrel-sink ESMTP\r\n";
  int recipients = 0;
  std::string line;
  for (;;) {
    // Answer everything a pipelining client sent in one write, then wait for more.
    if (reader.pending().find('\n') == std::string::npos && !replies.empty()) {
      SendAll(connection.get(), replies);
      replies.clear();
    }
    if (!reader.ReadLine(line)) return;
    std::string verb = Verb(line);
    if (verb == "EHLO") {
      replies += "250-tovrel-sink\r\n250-PIPELINING\r\n250 8BITMIME\r\n";
    } else if (verb == "HELO") {
      replies += "250 tovrel-sink\r\n";
    } else if (verb == "MAIL") {
      recipients = 0;
      replies += "250 2.1.0 Ok\r\n";
    } else if (verb == "RCPT") {
      ++recipients;
      replies += "250 2.1.5 Ok\r\n";
    } else if (verb == "RSET") {
      recipients = 0;
      replies += "250 2.0.0 Ok\r\n";
    } else if (verb == "NOOP") {
      replies += "250 2.0.0 Ok\r\n";
    } else if (verb == "QUIT") {
      replies += "221 2.0.0 Bye\r\n";
      SendAll(connection.get(), replies);
      return;
    } else if (verb == "DATA") {
      replies += "354 End data with <CR><LF>.<CR><LF>\r\n";
      SendAll(connection.get(), replies);
      replies.clear();
      std::string text;
      long long bytes = ReceiveData(connection.get(), reader.pending(), buffer,
                                    dump_dir.empty() ? nullptr : &text);
      if (bytes < 0) return;
      if (!dump_dir.empty()) DumpMessage(text);
      ReportMessage(bytes, recipients);
      recipients = 0;
      replies += "250 2.0.0 Ok: queued\r\n";
    } else {
      replies += "502 5.5.2 Command not recognized\r\n";
    }
  }
}

}  // namespace
}  // namespace tovrel::bench

int main(int argc, char** argv) {
  using namespace tovrel::bench;
  try {
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--dump") {
      dump_dir = argv[2];
      first = 3;
    }
    int port = argc > first ? std::stoi(argv[first]) : 0;
    Fd listener = ListenLoopback(port);
    std::printf("%d\n", LocalPort(listener.get()));
    std::fflush(stdout);
    for (;;) {
      Fd connection(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!connection.valid()) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        ThrowErrno("accept");
      }
      std::thread([fd = std::move(connection)]() mutable {
        try {
          Serve(std::move(fd));
        } catch (const std::exception& e) {
          std::fprintf(stderr, "tovrel_smtp_sink: %s\n", e.what());
        }
      }).detach();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tovrel_smtp_sink: %s\n", e.what());
    return 1;
  }
}
