#pragma once

// Loopback sockets the tests need besides the scripted server: a port nobody listens on, and a
// listener whose accept queue is full so that connecting to it hangs.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "http/peer_address.h"
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
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return http::PeerAddress(reinterpret_cast<const sockaddr*>(&address), size).port();
}

// A numeric loopback address ("127.0.0.1", "::1") with a port.
inline http::PeerAddress At(const std::string& address, int port) {
  http::PeerAddress peer = http::PeerAddress::FromLiteral(address).value();
  peer.set_port(port);
  return peer;
}

// A stream socket bound to `address` and `port` (0: a free one), IPv6 sockets IPv6 only.
inline int BoundSocket(const std::string& address, int port) {
  const http::PeerAddress at = At(address, port);
  const int fd = ::socket(at.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket for " + address);
  const int on = 1;
  if (at.family() == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (::bind(fd, at.get(), at.length()) != 0) {
    ::close(fd);
    throw std::runtime_error("bind " + address + " port " + std::to_string(port));
  }
  return fd;
}

// Holds a port on one address without listening there: a connect to it is refused, and no other
// program can start listening on it meanwhile.
class ClosedPort {
 public:
  explicit ClosedPort(const std::string& address, int port = 0)
      : fd_(BoundSocket(address, port)), port_(BoundPort(fd_.get())) {}
  int port() const { return port_; }

 private:
  Fd fd_;
  int port_;
};

// Listens with an accept queue of one and fills it, so that the next connect gets no answer.
class FullListener {
 public:
  explicit FullListener(const std::string& address = "127.0.0.1", int port = 0)
      : listener_(BoundSocket(address, port)),
        filler_(::socket(At(address, 0).family(), SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (::listen(listener_.get(), 0) != 0) throw std::runtime_error("listen");
    port_ = BoundPort(listener_.get());
    const http::PeerAddress peer = At(address, port_);
    if (::connect(filler_.get(), peer.get(), peer.length()) != 0) {
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
