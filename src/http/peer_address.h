#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>
#include <string_view>

namespace tovrel::http {

// One address a connection can go to, IPv6 or IPv4, as the socket calls take it. Empty (family
// AF_UNSPEC) until something is put in.
class PeerAddress {
 public:
  PeerAddress() = default;
  // Copies `length` bytes of `address`; a length beyond what any family needs is cut.
  PeerAddress(const sockaddr* address, socklen_t length);

  // A numeric address: dotted IPv4 ("127.0.0.1"), IPv6 ("::1", "fe80::1%lo") or IPv6 in
  // brackets ("[::1]"). Anything else, a host name included, gives nothing: it needs a lookup.
  static std::optional<PeerAddress> FromLiteral(std::string_view text);

  bool empty() const { return length_ == 0; }
  int family() const { return storage_.ss_family; }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage_); }
  socklen_t length() const { return length_; }
  int port() const;
  void set_port(int port);
  // The numeric address without brackets or port ("127.0.0.1", "::1"); empty when empty.
  std::string ToString() const;

 private:
  sockaddr_storage storage_{};
  socklen_t length_ = 0;
};

}  // namespace tovrel::http
