#include "support/socket_io.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tovrel::bench {

Fd::~Fd() {
  if (fd_ >= 0) close(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

void ThrowErrno(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

namespace {

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

Fd ListenLoopback(int port) {
  Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) ThrowErrno("socket");
  int one = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = LoopbackAddress(port);
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ThrowErrno("bind");
  }
  if (listen(fd.get(), 64) != 0) ThrowErrno("listen");
  return fd;
}

int LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ThrowErrno("getsockname");
  }
  return ntohs(address.sin_port);
}

Fd ConnectLoopback(int port) {
  Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) ThrowErrno("socket");
  sockaddr_in address = LoopbackAddress(port);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ThrowErrno("connect");
  }
  // Commands and the end-of-data line are single small writes: do not let them wait for an
  // acknowledgement of the previous segment.
  int one = 1;
  setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

void SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("send");
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

std::size_t ReceiveSome(int fd, char* area, std::size_t size) {
  ssize_t got;
  do {
    got = recv(fd, area, size, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) ThrowErrno("recv");
  return static_cast<std::size_t>(got);
}

LineReader::LineReader(int fd)
    : receive_([fd](char* area, std::size_t size) { return ReceiveSome(fd, area, size); }) {}

std::size_t LineReader::Fill(std::size_t max_bytes) {
  std::size_t old_size = pending_.size();
  pending_.resize(old_size + max_bytes);
  std::size_t got = 0;
  try {
    got = receive_(pending_.data() + old_size, max_bytes);
  } catch (...) {
    pending_.resize(old_size);
    throw;
  }
  pending_.resize(old_size + got);
  return got;
}

bool LineReader::ReadLine(std::string& line) {
  for (;;) {
    std::size_t end = pending_.find('\n', scanned_);
    if (end != std::string::npos) {
      std::size_t length = end;
      if (length > 0 && pending_[length - 1] == '\r') --length;
      line.assign(pending_, 0, length);
      pending_.erase(0, end + 1);
      scanned_ = 0;
      return true;
    }
    scanned_ = pending_.size();
    if (Fill(64 * 1024) == 0) return false;
  }
}

int ReadReply(LineReader& reader, std::string* last_line) {
  std::string line;
  for (;;) {
    if (!reader.ReadLine(line)) throw std::runtime_error("server closed the connection");
    if (line.size() < 3) throw std::runtime_error("malformed reply: " + line);
    if (line.size() == 3 || line[3] != '-') {
      if (last_line != nullptr) *last_line = line;
      return std::stoi(line.substr(0, 3));
    }
  }
}

}  // namespace tovrel::bench
