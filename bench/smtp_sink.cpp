// A discard SMTP server for the benchmarks: accepts every message on 127.0.0.1 and throws it
// away, reading DATA with large receives so that it is never what limits a sender.
//
// Usage: tovrel_smtp_sink [--dump DIR] [--tls CERTIFICATE KEY] [PORT]
//   (no PORT or 0: a free port)
// Prints the port on the first line of standard output, then one line
// "message BYTES RECIPIENTS CPU CONNECTION" per message taken, where BYTES counts the message text
// between the 354 reply and the end-of-data line (that line excluded, dot-stuffing not undone), CPU
// is the processor time in seconds the connection has cost the sink so far (hand-shake and
// decryption included), which shows whether the sink kept up with the sender, and CONNECTION
// numbers the connections in the order they were accepted, so that a reader can count the
// connections a sender opened for its messages. With --dump
// each message text is also kept as DIR/NNNNNN.eml (written before its line is printed), so that
// a check can read what a sender really sent.
// With --tls the sink offers STARTTLS, serves the rest of the session inside TLS with the given
// certificate chain and key (PEM files), and refuses MAIL with 530 until TLS is up, printing the
// line "refused plain MAIL": every message it counts came over TLS.
// Serves until it is killed.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/socket_io.h"
#include "support/tls_server.h"

namespace tovrel::bench {
namespace {

constexpr std::size_t kDataReadSize = 1 << 20;
constexpr std::string_view kEndOfData = "\r\n.\r\n";

std::mutex output_mutex;
std::string dump_dir;  // empty: messages are discarded
std::atomic<int> dump_count = 0;
std::optional<TlsServerContext> tls_context;  // set: STARTTLS offered and required

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

void Report(const std::string& line) {
  std::lock_guard lock(output_mutex);
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
}

// What the connection has cost so far: each connection is served by a thread of its own.
double ConnectionCpuSeconds() {
  timespec used{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

// One client's connection: the socket, and once STARTTLS is through, the TLS session over it.
class Channel {
 public:
  explicit Channel(Fd fd) : fd_(std::move(fd)) {}

  std::size_t Receive(char* area, std::size_t size) {
    return tls_ ? tls_->Receive(area, size) : ReceiveSome(fd_.get(), area, size);
  }
  void Send(std::string_view bytes) {
    if (tls_) {
      tls_->Send(bytes);
    } else {
      SendAll(fd_.get(), bytes);
    }
  }
  void StartTls() { tls_ = std::make_unique<TlsServerSession>(*tls_context, fd_.get()); }
  bool secured() const { return tls_ != nullptr; }
  void Close() {
    if (tls_) tls_->Close();
  }

 private:
  Fd fd_;
  std::unique_ptr<TlsServerSession> tls_;
};

std::string Verb(const std::string& line) {
  std::string verb = line.substr(0, line.find(' '));
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

// Reads the message text after a 354 reply up to its end-of-data line. `pending` holds what was
// received after the DATA command; on return it holds what followed the end-of-data line.
// Returns the size of the message text, or -1 when the peer closed first. With `dump` the text
// itself is collected there.
long long ReceiveData(Channel& channel, std::string& pending, std::vector<char>& buffer,
                      std::string* dump) {
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

    std::size_t got = channel.Receive(buffer.data(), buffer.size());
    if (got == 0) return -1;
    chunk = std::string_view(buffer.data(), got);
  }
}

void Serve(Fd connection, long long number) {
  int one = 1;
  setsockopt(connection.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Channel channel(std::move(connection));
  LineReader reader(
      [&channel](char* area, std::size_t size) { return channel.Receive(area, size); });
  std::vector<char> buffer(kDataReadSize);
  std::string replies = "220 tovrel-sink ESMTP\r\n";
  int recipients = 0;
  std::string line;
  for (;;) {
    // Answer everything a pipelining client sent in one write, then wait for more.
    if (reader.pending().find('\n') == std::string::npos && !replies.empty()) {
      channel.Send(replies);
      replies.clear();
    }
    if (!reader.ReadLine(line)) return;
    std::string verb = Verb(line);
    bool offer_tls = tls_context.has_value() && !channel.secured();
    if (verb == "EHLO") {
      replies += "250-tovrel-sink\r\n250-PIPELINING\r\n";
      if (offer_tls) replies += "250-STARTTLS\r\n";
      replies += "250 8BITMIME\r\n";
    } else if (verb == "HELO") {
      replies += "250 tovrel-sink\r\n";
    } else if (verb == "STARTTLS" && offer_tls) {
      replies += "220 2.0.0 Ready to start TLS\r\n";
      channel.Send(replies);
      replies.clear();
      // Nothing a client sent after STARTTLS in the clear may count inside TLS.
      reader.pending().clear();
      channel.StartTls();
      recipients = 0;
    } else if ((verb == "MAIL" || verb == "RCPT" || verb == "DATA") && offer_tls) {
      if (verb == "MAIL") Report("refused plain MAIL\n");
      replies += "530 5.7.0 Must issue a STARTTLS command first\r\n";
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
      channel.Send(replies);
      channel.Close();
      return;
    } else if (verb == "DATA") {
      replies += "354 End data with <CR><LF>.<CR><LF>\r\n";
      channel.Send(replies);
      replies.clear();
      std::string text;
      long long bytes =
          ReceiveData(channel, reader.pending(), buffer, dump_dir.empty() ? nullptr : &text);
      if (bytes < 0) return;
      if (!dump_dir.empty()) DumpMessage(text);
      char cpu[64];
      std::snprintf(cpu, sizeof cpu, " %.4f %lld\n", ConnectionCpuSeconds(), number);
      Report("message " + std::to_string(bytes) + " " + std::to_string(recipients) + cpu);
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
    // A client that hangs up at once must not end the sink with SIGPIPE while TLS writes.
    std::signal(SIGPIPE, SIG_IGN);
    int first = 1;
    for (;;) {
      std::string option = argc > first ? argv[first] : "";
      if (option == "--dump" && argc > first + 1) {
        dump_dir = argv[first + 1];
        first += 2;
      } else if (option == "--tls" && argc > first + 2) {
        tls_context.emplace(argv[first + 1], argv[first + 2]);
        first += 3;
      } else {
        break;
      }
    }
    int port = argc > first ? std::stoi(argv[first]) : 0;
    Fd listener = ListenLoopback(port);
    std::printf("%d\n", LocalPort(listener.get()));
    std::fflush(stdout);
    for (long long accepted = 1;; ++accepted) {
      Fd connection(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!connection.valid()) {
        if (errno == EINTR || errno == ECONNABORTED) {
          --accepted;
          continue;
        }
        ThrowErrno("accept");
      }
      std::thread([fd = std::move(connection), accepted]() mutable {
        try {
          Serve(std::move(fd), accepted);
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
