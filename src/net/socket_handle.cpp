#include "net/socket_handle.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "net/gui_pump.h"
#include "net/net_errors.h"
#include "net/socket_stack.h"

namespace tovrel::net {

namespace {

// A socket address of `family` for `ip` (empty: any local address) and `port`.
struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
};

SocketAddress MakeAddress(int family, const std::string& ip, int port) {
  SocketAddress address;
  if (family == AF_INET6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<uint16_t>(port));
    in6->sin6_addr = in6addr_any;
    if (!ip.empty()) {
      const std::string plain(SystemStack::WithoutZone(ip));
      inet_pton(AF_INET6, plain.c_str(), &in6->sin6_addr);
      in6->sin6_scope_id = SystemStack::ZoneIndex(ip);
    }
    address.length = sizeof(sockaddr_in6);
    return address;
  }
  auto* in = reinterpret_cast<sockaddr_in*>(&address.storage);
  in->sin_family = AF_INET;
  in->sin_port = htons(static_cast<uint16_t>(port));
  if (ip.empty()) {
    in->sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    auto bytes = SystemStack::TextToAddress(ip);
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<uint8_t*>(&in->sin_addr.s_addr));
  }
  address.length = sizeof(sockaddr_in);
  return address;
}

// The address as text and the port, for either family.
bool ReadAddress(const sockaddr_storage& storage, std::string& ip, int& port) {
  if (storage.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
    std::string text = SystemStack::Ipv6ToText(in6.sin6_addr, in6.sin6_scope_id);
    if (text.empty()) return false;
    ip = std::move(text);
    port = ntohs(in6.sin6_port);
    return true;
  }
  if (storage.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(storage);
    std::array<uint8_t, 4> bytes{};
    std::copy_n(reinterpret_cast<const uint8_t*>(&in.sin_addr.s_addr), 4, bytes.begin());
    ip = SystemStack::AddressToText(bytes);
    port = ntohs(in.sin_port);
    return true;
  }
  return false;
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

void SocketHandle::OpenSocket(int type, int protocol, int family) {
  ReleaseSocket(true);
  handle_ = SystemStack::NewSocket(type, protocol, family);
  family_ = family;
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
  SocketAddress address = MakeAddress(family_, ip_, port_);
  if (::bind(handle_, address.get(), address.length) != 0) {
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
  SocketAddress address = MakeAddress(family, remote_ip_, remote_port_);
  // Connect without blocking so that the wait can be limited, then return to blocking mode.
  int flags = ::fcntl(handle_, F_GETFL);
  ::fcntl(handle_, F_SETFL, flags | O_NONBLOCK);
  int result = ::connect(handle_, address.get(), address.length);
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

namespace {

bool PollOnce(int descriptor, short events, WaitLimit limit) {
  pollfd entry{descriptor, events, 0};
  const Deadline deadline(limit);
  for (;;) {
    const WaitLimit left = deadline.Remaining();
    int ready = ::poll(&entry, 1, left.forever() ? -1 : left.milliseconds());
    if (ready >= 0) return ready == 1;
    // A failed wait would otherwise look like "not ready" forever: report it.
    if (errno != EINTR) SystemStack::ThrowForErrno(errno);
  }
}

}  // namespace

bool WaitForDescriptor(int descriptor, short events, WaitLimit limit) {
  GuiPumpBase* pump = CurrentGuiPump();
  if (pump != nullptr && pump->active()) {
    // The window gets its turn after every slice, also under a limit: the limits of a send run
    // to minutes, and a window that had to sit out all of a wait but its last slice would be as
    // frozen as one without a pump.
    const int slice = pump->idle_timeout();
    const Deadline deadline(limit);
    for (;;) {
      const WaitLimit left = deadline.Remaining();
      const bool last = !left.forever() && left.milliseconds() <= slice;
      const bool ready = PollOnce(descriptor, events, last ? left : WaitLimit(slice));
      GuiPumpBase::IdleHook(ready ? IdleOccasion::ioBusy : IdleOccasion::ioIdle);
      if (ready || last) return ready;
    }
  }
  bool ready = PollOnce(descriptor, events, limit);
  GuiPumpBase::IdleHook(ready ? IdleOccasion::ioBusy : IdleOccasion::ioIdle);
  return ready;
}

bool SocketHandle::WaitFor(short events, WaitLimit limit) {
  if (!has_handle_) throw ConnClosedGracefully();
  return WaitForDescriptor(handle_, events, limit);
}

bool SocketHandle::WaitReadable(WaitLimit limit) { return WaitFor(POLLIN, limit); }

bool SocketHandle::WaitWritable(WaitLimit limit) { return WaitFor(POLLOUT, limit); }

int64_t SocketHandle::QueuedBytes() const {
  int queued = 0;
  if (!has_handle_ || ::ioctl(handle_, SIOCOUTQ, &queued) != 0) return 0;
  return queued;
}

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
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(handle_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    ReadAddress(address, ip_, port_);
  }
}

void SocketHandle::RefreshRemote() {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(handle_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    ReadAddress(address, remote_ip_, remote_port_);
  }
}

}  // namespace tovrel::net
