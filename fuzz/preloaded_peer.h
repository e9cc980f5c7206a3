#pragma once

// A loopback peer that writes its whole answer as soon as the client connects, then ends the
// stream: a client reads the bytes as a server's, whatever it writes in between. What the client
// wrote can be read back afterwards.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <thread>

#include "fuzz_check.h"

namespace tovrel::fuzz {

class PreloadedPeer {
 public:
  // At most kMaxAnswer bytes of `answer` are used, so that they fit the socket's buffers.
  static constexpr std::size_t kMaxAnswer = 16384;

  explicit PreloadedPeer(std::string_view answer) : answer_(answer.substr(0, kMaxAnswer)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    Require(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::listen(listener_, 1) == 0 &&
                ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0,
            "cannot listen on loopback");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Answer(); });
  }
  ~PreloadedPeer() {
    if (thread_.joinable()) thread_.join();
    if (accepted_ >= 0) ::close(accepted_);
    ::close(listener_);
  }
  PreloadedPeer(const PreloadedPeer&) = delete;
  PreloadedPeer& operator=(const PreloadedPeer&) = delete;

  int port() const { return port_; }
  const std::string& answer() const { return answer_; }

  // Everything the client wrote; call once the client has closed or stopped writing.
  std::string Received() {
    if (thread_.joinable()) thread_.join();
    std::string all;
    if (accepted_ < 0) return all;
    char area[65536];
    pollfd entry{accepted_, POLLIN, 0};
    while (::poll(&entry, 1, 0) == 1) {
      const ssize_t n = ::recv(accepted_, area, sizeof area, 0);
      if (n <= 0) break;
      all.append(area, static_cast<std::size_t>(n));
    }
    return all;
  }

 private:
  void Answer() {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 5000) != 1) return;  // the client never connected
    accepted_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (accepted_ < 0) return;
    std::size_t done = 0;
    while (done < answer_.size()) {
      const ssize_t n =
          ::send(accepted_, answer_.data() + done, answer_.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::shutdown(accepted_, SHUT_WR);
  }

  const std::string answer_;
  int listener_ = -1;
  int accepted_ = -1;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace tovrel::fuzz
