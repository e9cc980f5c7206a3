#pragma once

// One IPv4 or IPv6 socket with its local and remote address. The connection owns one; everything
// that touches the file descriptor goes through here so that errors map onto socket error numbers.

#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "net/wait_limit.h"

namespace tovrel::net {

// Waits until `descriptor` is ready for `events` (poll's) or `limit` passes; the window's pump
// gets its turn as in every wait of the transport, and may end the wait by raising.
bool WaitForDescriptor(int descriptor, short events, WaitLimit limit);

class SocketHandle {
 public:
  SocketHandle() = default;
  ~SocketHandle();
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;

  // Copies the addresses, never the socket.
  void Assign(const SocketHandle& other);

  int handle() const { return handle_; }
  bool has_handle() const { return has_handle_; }
  const std::string& ip() const { return ip_; }
  void set_ip(const std::string& ip) { ip_ = ip; }
  int port() const { return port_; }
  void set_port(int port) { port_ = port; }
  const std::string& remote_ip() const { return remote_ip_; }
  int remote_port() const { return remote_port_; }

  void OpenSocket(int type = SOCK_STREAM, int protocol = 0, int family = AF_INET);
  int family() const { return family_; }
  // Shuts down the sending side and closes the socket, if one is open.
  virtual void ReleaseSocket(bool reset_local);
  void ClearAddresses(bool reset_local);
  void BindLocal();
  void SetRemote(const std::string& ip, int port);
  // Connects to the remote address; returns the raw result (-1 with errno set on failure, and
  // ETIMEDOUT when `limit` passes first).
  virtual int ConnectToPeer(int family, WaitLimit limit = kWaitForever);

  // True when data (or end of stream) can be read within `limit`.
  bool WaitReadable(WaitLimit limit);
  // True when at least one byte can be sent within `limit`.
  bool WaitWritable(WaitLimit limit);
  // The bytes sent that have not left this machine yet (the peer has not acknowledged them);
  // 0 where the system cannot tell.
  int64_t QueuedBytes() const;

  // Raw calls; sends never raise SIGPIPE.
  ssize_t ReceiveBytes(void* area, size_t length, int flags);
  ssize_t SendBytes(const void* data, size_t length, int flags);
  void SetOption(int level, int option, const void* value, socklen_t length);

  void RefreshLocal();
  void RefreshRemote();

 private:
  bool WaitFor(short events, WaitLimit limit);

  int handle_ = -1;
  int family_ = AF_INET;
  bool has_handle_ = false;
  std::string ip_;
  int port_ = 0;
  std::string remote_ip_;
  int remote_port_ = 0;
};

}  // namespace tovrel::net
