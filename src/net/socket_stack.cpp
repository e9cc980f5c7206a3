#include "net/socket_stack.h"

#include <arpa/inet.h>
#include <errno.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "message/string_helpers.h"
#include "net/net_errors.h"
#include "net/texts.h"

namespace tovrel::net {

namespace {

struct ErrorText {
  int number;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
    {11002, "Temporary failure in name resolution."},
    {11003, "Non-recoverable failure in name resolution."},
    {11004, "Valid name, no data record of requested type."},
};

struct ErrnoMap {
  int err;
  int number;
};

// The same rows as the update check's table (http/socket_error_table.cpp), which may not use this
// layer; a test of the program checks that they agree.
constexpr ErrnoMap kErrnoMap[] = {
    {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
    {EPERM, 10013},           {EFAULT, 10014},       {EINVAL, 10022},
    {EMFILE, 10024},          {ENFILE, 10024},       {EWOULDBLOCK, 10035},
    {EAGAIN, 10035},          {EINPROGRESS, 10036},  {EALREADY, 10037},
    {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},      {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},        {ENETUNREACH, 10051},  {ENETRESET, 10052},
    {ECONNABORTED, 10053},    {ECONNRESET, 10054},   {ENOBUFS, 10055},
    {ENOMEM, 10055},          {EISCONN, 10056},      {ENOTCONN, 10057},
    {EPIPE, 10058},           {ESHUTDOWN, 10058},    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061}, {ELOOP, 10062},
    {ENAMETOOLONG, 10063},    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},       {EUSERS, 10068},       {EDQUOT, 10069},
    {ESTALE, 10070},          {EREMOTE, 10071},
};

// Reads a piece of a dotted quad: decimal digits only, value 0 to 255.
bool ReadOctet(std::string_view piece) {
  if (piece.empty() || piece.size() > 3) return false;
  int value = 0;
  for (char c : piece) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value <= 255;
}

}  // namespace

SystemStack::SystemStack() {
  // Nothing to load: the system's sockets are always there.
  version_.name = "POSIX stack";
  version_.description = texts::kStackVersionDescription;
}

std::string SystemStack::ResolveHostAddress(const std::string& host) {
  for (std::string& address : ResolveHostAddresses(host)) {
    if (IsDottedQuad(address)) return address;
  }
  ThrowSocketError(kErrorNoData);
}

std::vector<std::string> SystemStack::ResolveHostAddresses(const std::string& host) {
  return LookUpAddresses(host);
}

std::vector<std::string> SystemStack::LookUpAddresses(const std::string& host) {
  if (message::EqualsIgnoreCase(host, "localhost")) return {"127.0.0.1"};
  if (IsDottedQuad(host)) return {host};
  if (std::string literal = Ipv6Literal(host); !literal.empty()) return {literal};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    if (rc == EAI_SYSTEM) ThrowForErrno(errno);
    ThrowSocketError(TranslateLookupError(rc));
  }
  std::vector<std::string> addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    std::string text;
    if (entry->ai_family == AF_INET) {
      char dotted[INET_ADDRSTRLEN] = {};
      const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
      if (inet_ntop(AF_INET, &in->sin_addr, dotted, sizeof dotted) != nullptr) text = dotted;
    } else if (entry->ai_family == AF_INET6) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
      text = Ipv6ToText(in6->sin6_addr, in6->sin6_scope_id);
    }
    if (text.empty()) continue;
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.emplace_back(text);
    }
  }
  freeaddrinfo(found);
  if (addresses.empty()) ThrowSocketError(kErrorNoData);
  return addresses;
}

std::string SystemStack::Ipv6Literal(std::string_view text) {
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  in6_addr address{};
  const std::string plain(WithoutZone(text));
  if (inet_pton(AF_INET6, plain.c_str(), &address) != 1) return {};
  if (plain.size() == text.size()) return plain;
  const std::string_view zone = text.substr(plain.size() + 1);
  if (zone.empty() || ZoneIndex(text) == 0) return {};
  return std::string(text);
}

std::string SystemStack::Ipv6ToText(const in6_addr& address, uint32_t zone_index) {
  char text[INET6_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET6, &address, text, sizeof text) == nullptr) return {};
  if (zone_index == 0) return text;
  char name[IF_NAMESIZE] = {};
  const char* zone = if_indextoname(zone_index, name);
  return std::string(text) + "%" + (zone != nullptr ? zone : std::to_string(zone_index));
}

std::string_view SystemStack::WithoutZone(std::string_view literal) {
  return literal.substr(0, literal.find('%'));
}

uint32_t SystemStack::ZoneIndex(std::string_view literal) {
  const size_t percent = literal.find('%');
  if (percent == std::string_view::npos) return 0;
  const std::string zone(literal.substr(percent + 1));
  if (!zone.empty() &&
      std::all_of(zone.begin(), zone.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return zone.size() <= 9 ? static_cast<uint32_t>(std::stoul(zone)) : 0;
  }
  return if_nametoindex(zone.c_str());
}

bool SystemStack::IsDottedQuad(std::string_view text) {
  std::string_view rest = text;
  for (int i = 0; i < 3; ++i) {
    size_t dot = rest.find('.');
    std::string_view piece = dot == std::string_view::npos ? rest : rest.substr(0, dot);
    if (!ReadOctet(piece)) return false;
    rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
  }
  return ReadOctet(rest);
}

std::array<uint8_t, 4> SystemStack::TextToAddress(std::string_view dotted_quad) {
  std::array<uint8_t, 4> bytes{};
  std::string_view rest = dotted_quad;
  for (int i = 0; i < 4; ++i) {
    size_t dot = rest.find('.');
    std::string_view piece = dot == std::string_view::npos ? rest : rest.substr(0, dot);
    int value = 0;
    for (char c : piece) {
      if (c >= '0' && c <= '9') value = value * 10 + (c - '0');
    }
    bytes[i] = static_cast<uint8_t>(value);
    rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
  }
  return bytes;
}

std::string SystemStack::AddressToText(const std::array<uint8_t, 4>& address) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

int SystemStack::NewSocket(int type, int protocol, int family) {
  int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) throw InvalidSocket();
  return fd;
}

bool SystemStack::CheckSocketResult(int result, std::initializer_list<int> tolerated) {
  if (result != -1) return false;
  const int error = errno;
  if (std::find(tolerated.begin(), tolerated.end(), error) != tolerated.end()) return true;
  ThrowForErrno(error);
}

void SystemStack::ThrowSocketError(int error_number) {
  throw SocketError(error_number, SocketErrorText(error_number));
}

void SystemStack::ThrowForErrno(int system_error) {
  ThrowSocketError(TranslateErrno(system_error));
}

std::string SystemStack::SocketErrorText(int error_number) {
  const char* text = "";
  for (const auto& entry : kErrorTexts) {
    if (entry.number == error_number) text = entry.text;
  }
  return message::FormatText(texts::kSocketErrorFormat, {std::to_string(error_number), text});
}

std::string SystemStack::LocalHostName() {
  char name[251] = {};
  if (gethostname(name, 250) != 0) return {};
  name[250] = '\0';
  return name;
}

int SystemStack::TranslateErrno(int err) {
  for (const auto& entry : kErrnoMap) {
    if (entry.err == err) return entry.number;
  }
  return err;
}

int SystemStack::TranslateLookupError(int gai_error) {
  switch (gai_error) {
    case EAI_NONAME:
      return kErrorHostNotFound;
    case EAI_AGAIN:
      return kErrorTryAgain;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return kErrorNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return kErrorNoData;
#endif
    default:
      return kErrorNoRecovery;
  }
}

}  // namespace tovrel::net
