// Any bytes as the reply of a web server on loopback, sent in pieces: the client either fails
// with its own error, or the reply header it keeps is exactly the start of what came, the rest is
// the body, and the numbers it read from the header are in range.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "fuzz_check.h"
#include "http/http_client.h"
#include "http/http_error.h"

namespace tovrel::fuzz {
namespace {

// One reply per connection, the same for every connection until the next input.
class ReplyServer {
 public:
  ReplyServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      Fail("no loopback listener");
    }
    port_ = ntohs(address.sin_port);
    std::thread([this] { Serve(); }).detach();  // lives as long as the fuzzing process
  }
  int port() const { return port_; }
  void set_reply(std::string reply, std::size_t piece) {
    const std::lock_guard lock(mutex_);
    reply_ = std::move(reply);
    piece_ = piece;
  }

 private:
  void Serve() {
    for (;;) {
      const int peer = ::accept(listener_, nullptr, nullptr);
      if (peer < 0) continue;
      std::string reply;
      std::size_t piece;
      {
        const std::lock_guard lock(mutex_);
        reply = reply_;
        piece = piece_;
      }
      const int on = 1;
      ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      for (std::size_t sent = 0; sent < reply.size();) {
        const ssize_t n =
            ::send(peer, reply.data() + sent, std::min(piece, reply.size() - sent), MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      // Read the request away until the client closes, so that closing sends no reset.
      ::shutdown(peer, SHUT_WR);
      char sink[4096];
      while (::recv(peer, sink, sizeof sink, 0) > 0) {
      }
      ::close(peer);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::string reply_;
  std::size_t piece_ = 1;
};

// Only the steps of one request: no redirect is followed, so no other host is ever asked.
class OneRequest : public http::HttpClient {
 public:
  std::string rest;

 protected:
  void Perform() override {
    SplitURL();
    ComposeRequest();
    Connect();
    try {
      SendRequest();
      ReadResponseHeader();
      rest = CaptureString();
    } catch (...) {
      Disconnect();
      throw;
    }
    Disconnect();
  }
};

ReplyServer* server = nullptr;

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static QCoreApplication app(*argc, *argv);
  static tovrel::fuzz::ReplyServer server;
  tovrel::fuzz::server = &server;
  return 0;
}

namespace tovrel::fuzz {
namespace {

int TestOne(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64 * 16;
  const std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  server->set_reply(reply, piece);

  OneRequest client;
  client.set_time_out(10000);
  try {
    client.Get("http://127.0.0.1:" + std::to_string(server->port()) + "/fuzz");
  } catch (const http::HttpError&) {
    return 0;
  }
  // The header is the reply's first whole lines; the body is the rest, unless the reply ended
  // inside the header, where a last line without its line end is no line.
  const std::string& header = client.header();
  Require(reply.starts_with(header), "the header is not the start of the reply");
  Require(header.empty() || header.ends_with('\n'), "the header ends inside a line");
  const std::string_view tail = std::string_view(reply).substr(header.size());
  // A header that ended properly closes with a blank line after its status line.
  const std::size_t first_end = header.find('\n');
  const std::string_view after_status = first_end == std::string::npos
                                            ? std::string_view()
                                            : std::string_view(header).substr(first_end);
  const bool ended = after_status.ends_with("\n\n") || after_status.ends_with("\n\r\n");
  const bool cut_inside_header =
      !ended && client.rest.empty() && tail.find('\n') == std::string::npos;
  Require(client.rest == tail || cut_inside_header, "the body is not the rest of the reply");
  Require(client.reply_number() >= 0 && client.reply_number() <= 0xFFFF, "a status out of range");
  Require(client.content_length() >= 0, "a negative content length");
  Require(client.header().size() <= http::HttpClient::kMaxHeaderBytes, "a header past its cap");
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
