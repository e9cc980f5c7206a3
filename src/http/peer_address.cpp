#include "http/peer_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tovrel::http {

PeerAddress::PeerAddress(const sockaddr* address, socklen_t length)
    : length_(std::min<socklen_t>(length, sizeof storage_)) {
  std::memcpy(&storage_, address, length_);
}

std::optional<PeerAddress> PeerAddress::FromLiteral(std::string_view text) {
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
    if (text.find(':') == std::string_view::npos) return std::nullopt;  // "[1.2.3.4]" is no form
  }
  const std::string literal(text);
  sockaddr_in v4{};
  if (::inet_pton(AF_INET, literal.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    return PeerAddress(reinterpret_cast<const sockaddr*>(&v4), sizeof v4);
  }
  if (literal.find(':') == std::string::npos) return std::nullopt;
  // The numeric-only lookup never asks a name server; it also takes a zone ("%lo").
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (::getaddrinfo(literal.c_str(), nullptr, &hints, &found) != 0) return std::nullopt;
  PeerAddress address(found->ai_addr, found->ai_addrlen);
  ::freeaddrinfo(found);
  return address;
}

int PeerAddress::port() const {
  switch (family()) {
    case AF_INET:
      return ntohs(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_port);
    case AF_INET6:
      return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_port);
    default:
      return 0;
  }
}

void PeerAddress::set_port(int port) {
  const auto value = htons(static_cast<std::uint16_t>(port));
  if (family() == AF_INET) reinterpret_cast<sockaddr_in*>(&storage_)->sin_port = value;
  if (family() == AF_INET6) reinterpret_cast<sockaddr_in6*>(&storage_)->sin6_port = value;
}

std::string PeerAddress::ToString() const {
  if (empty()) return {};
  char text[NI_MAXHOST] = {};
  if (::getnameinfo(get(), length_, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0) return {};
  return text;
}

}  // namespace tovrel::http
