#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

// The process-wide socket stack: name resolution, address text conversion and the translation of
// system error numbers into the socket error numbers and texts the user sees. One instance exists
// while any network component lives (see NetComponent); reach it through SocketStack().

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tovrel::net {

// What the platform reported when the stack started.
struct StackVersion {
  std::string name;
  std::string description;
};

class SystemStack {
 public:
  SystemStack();

  const StackVersion& version() const { return version_; }

  // "localhost" (any case) and dotted quads resolve without a lookup. The first IPv4 address.
  std::string ResolveHostAddress(const std::string& host);
  // Every address of `host`, IPv6 and IPv4, in the resolver's order. "localhost" (any case), a
  // dotted quad and an IPv6 address ("::1", also "[::1]") are taken without a lookup.
  std::vector<std::string> ResolveHostAddresses(const std::string& host);
  // The IPv6 address `text` stands for, without brackets, or empty when it is none. A zone
  // ("fe80::1%eth0", an interface name or number) stays on it: a link-local address means
  // nothing without the interface it belongs to.
  static std::string Ipv6Literal(std::string_view text);
  // The address of an IPv6 literal without its zone, as certificates and SOCKS carry it.
  static std::string_view WithoutZone(std::string_view literal);
  // The interface index the literal's zone names; 0 when it has none or names no interface.
  static uint32_t ZoneIndex(std::string_view literal);
  // The address as text, with its zone when it has one; empty when it cannot be written.
  static std::string Ipv6ToText(const in6_addr& address, uint32_t zone_index);
  // ResolveHostAddresses without a stack object, for lookups on a thread of their own.
  static std::vector<std::string> LookUpAddresses(const std::string& host);
  static bool IsDottedQuad(std::string_view text);
  static std::array<uint8_t, 4> TextToAddress(std::string_view dotted_quad);
  static std::string AddressToText(const std::array<uint8_t, 4>& address);

  // A socket of `family` with close-on-exec set; raises InvalidSocket on failure.
  static int NewSocket(int type, int protocol, int family = AF_INET);

  // Returns false when `result` is not -1; true when errno is one of `tolerated` (errno values);
  // raises the socket error otherwise. Must be called right after the failed call, before errno
  // changes.
  bool CheckSocketResult(int result, std::initializer_list<int> tolerated = {});
  // `error_number` is a number of the error table.
  [[noreturn]] static void ThrowSocketError(int error_number);
  // The transport keeps errno as the system gave it; it becomes a number of the error table here,
  // where the user is about to see it.
  [[noreturn]] static void ThrowForErrno(int system_error);
  static std::string SocketErrorText(int error_number);

  std::string LocalHostName();

  // The error table's number for an errno value.
  static int TranslateErrno(int err);
  static int TranslateLookupError(int gai_error);

 private:
  StackVersion version_;
};

// The live stack, or nullptr when no network component exists.
SystemStack* SocketStack();

// Numbers of the error table that the transport raises by name.
inline constexpr int kErrorConnectionReset = 10054;
inline constexpr int kErrorTimedOut = 10060;
inline constexpr int kErrorConnectionRefused = 10061;
inline constexpr int kErrorHostUnreachable = 10065;
inline constexpr int kErrorHostNotFound = 11001;
inline constexpr int kErrorTryAgain = 11002;
inline constexpr int kErrorNoRecovery = 11003;
inline constexpr int kErrorNoData = 11004;

}  // namespace tovrel::net
