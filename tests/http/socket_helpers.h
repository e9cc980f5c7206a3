#pragma once

// Loopback sockets the tests need besides the scripted server: a port nobody listens on, and a
// listener whose accept queue is full so that connecting to it hangs.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "support/test_support.h"

namespace tovrel::test {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

inline int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

inline sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

// Listens with an accept queue of one and fills it, so that the next connect gets no answer.
class FullListener {
 public:
  FullListener()
      : listener_(::socket(AF_INET, SOCK_STREAM, 0)), filler_(::socket(AF_INET, SOCK_STREAM, 0)) {
    const sockaddr_in address = Loopback(0);
    if (::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 0) != 0) {
      throw std::runtime_error("listen");
    }
    port_ = BoundPort(listener_.get());
    const sockaddr_in peer = Loopback(port_);
    if (::connect(filler_.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
      throw std::runtime_error("connect filler");
    }
  }
  int port() const { return port_; }

 private:
  Fd listener_;
  Fd filler_;
  int port_ = 0;
};

}  // namespace tovrel::test
