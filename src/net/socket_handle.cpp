#include "net/socket_handle.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "net/gui_pump.h"
#include "net/net_errors.h"
#include "net/socket_stack.h"

namespace tovrel::net {

namespace {

sockaddr_in MakeAddress(const std::string& ip, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (ip.empty()) {
    address.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    auto bytes = SystemStack::TextToAddress(ip);
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<uint8_t*>(&address.sin_addr.s_addr));
  }
  return address;
}

std::string AddressText(const sockaddr_in& address) {
  std::array<uint8_t, 4> bytes{};
  std::copy_n(reinterpret_cast<const uint8_t*>(&address.sin_addr.s_addr), 4, bytes.begin());
  return SystemStack::AddressToText(bytes);
}

}  // namespace

SocketHandle::~SocketHandle() {
  if (has_handle_) ::close(handle_);
}

void SocketHandle::Assign(const SocketHandle& other) {
  ip_ = other.ip_;
  port_ = other.port_;
  remote_ip_ = other.remote_ip_;
  remote_port_ = other.remote_port_;
}

void SocketHandle::OpenSocket(int type, int protocol) {
  ReleaseSocket(true);
  handle_ = SystemStack::NewSocket(type, protocol);
  has_handle_ = true;
}

void SocketHandle::ReleaseSocket(bool reset_local) {
  if (!has_handle_) return;
  has_handle_ = false;
  ::shutdown(handle_, SHUT_WR);
  ::close(handle_);
  ClearAddresses(reset_local);
}

void SocketHandle::ClearAddresses(bool reset_local) {
  has_handle_ = false;
  handle_ = -1;
  remote_ip_.clear();
  remote_port_ = 0;
  if (reset_local) {
    ip_.clear();
    port_ = 0;
  }
}

void SocketHandle::BindLocal() {
  sockaddr_in address = MakeAddress(ip_, port_);
  if (::bind(handle_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    if (error == EADDRINUSE) throw CouldNotBindSocket();
    SystemStack::ThrowForErrno(error);
  }
  RefreshLocal();
}

void SocketHandle::SetRemote(const std::string& ip, int port) {
  remote_ip_ = ip;
  remote_port_ = port;
}

int SocketHandle::ConnectToPeer(int family, WaitLimit limit) {
  sockaddr_in address = MakeAddress(remote_ip_, remote_port_);
  address.sin_family = static_cast<sa_family_t>(family);
  // Connect without blocking so that the wait can be limited, then return to blocking mode.
  int flags = ::fcntl(handle_, F_GETFL);
  ::fcntl(handle_, F_SETFL, flags | O_NONBLOCK);
  int result = ::connect(handle_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int saved_errno = errno;
  if (result == -1 && errno == EINPROGRESS) {
    if (!WaitFor(POLLOUT, limit)) {
      saved_errno = ETIMEDOUT;
    } else {
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(handle_, SOL_SOCKET, SO_ERROR, &error, &length);
      saved_errno = error;
      result = error == 0 ? 0 : -1;
    }
  }
  ::fcntl(handle_, F_SETFL, flags);
  if (result != -1) {
    RefreshLocal();
    RefreshRemote();
  }
  errno = saved_errno;
  return result;
}

bool SocketHandle::PollOnce(short events, WaitLimit limit) {
  if (!has_handle_) throw ConnClosedGracefully();
  pollfd entry{handle_, events, 0};
  const Deadline deadline(limit);
  for (;;) {
    const WaitLimit left = deadline.Remaining();
    int ready = ::poll(&entry, 1, left.forever() ? -1 : left.milliseconds());
    if (ready >= 0) return ready == 1;
    // A failed wait would otherwise look like "not ready" forever: report it.
    if (errno != EINTR) SystemStack::ThrowForErrno(errno);
  }
}

bool SocketHandle::WaitFor(short events, WaitLimit limit) {
  GuiPumpBase* pump = CurrentGuiPump();
  if (pump != nullptr && pump->active()) {
    const int slice = pump->idle_timeout();
    if (limit.forever()) {
      while (!WaitFor(events, slice)) {
      }
      return true;
    }
    if (limit.milliseconds() > slice) {
      if (PollOnce(events, limit.milliseconds() - slice)) return true;
      limit = slice;
    }
  }
  bool ready = PollOnce(events, limit);
  GuiPumpBase::IdleHook(ready ? IdleOccasion::ioBusy : IdleOccasion::ioIdle);
  return ready;
}

bool SocketHandle::WaitReadable(WaitLimit limit) { return WaitFor(POLLIN, limit); }

bool SocketHandle::WaitWritable(WaitLimit limit) { return WaitFor(POLLOUT, limit); }

ssize_t SocketHandle::ReceiveBytes(void* area, size_t length, int flags) {
  ssize_t n;
  do {
    n = ::recv(handle_, area, length, flags);
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t SocketHandle::SendBytes(const void* data, size_t length, int flags) {
  ssize_t n;
  do {
    n = ::send(handle_, data, length, flags | MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n;
}

void SocketHandle::SetOption(int level, int option, const void* value, socklen_t length) {
  if (::setsockopt(handle_, level, option, value, length) != 0) {
    SystemStack::ThrowForErrno(errno);
  }
}

void SocketHandle::RefreshLocal() {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(handle_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    ip_ = AddressText(address);
    port_ = ntohs(address.sin_port);
  }
}

void SocketHandle::RefreshRemote() {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getpeername(handle_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    remote_ip_ = AddressText(address);
    remote_port_ = ntohs(address.sin_port);
  }
}

}  // namespace tovrel::net
