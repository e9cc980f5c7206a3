#include "net/tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "message/string_helpers.h"
#include "net/net_errors.h"
#include "net/socket_stack.h"

namespace tovrel::net {

namespace {

void AppendPort(std::string& request, int port) {
  request.push_back(static_cast<char>((port >> 8) & 0xFF));
  request.push_back(static_cast<char>(port & 0xFF));
}

// SOCKS length fields are one byte.
std::string_view Cut255(std::string_view text) { return text.substr(0, 255); }

// Failures that belong to one address, so that the next one may still answer.
bool NextMayAnswer(int error) {
  return error == ECONNREFUSED || error == ETIMEDOUT || error == ENETUNREACH ||
         error == EHOSTUNREACH || error == EADDRNOTAVAIL || error == EAFNOSUPPORT;
}

// What a lookup thread hands back. The thread and the waiter share it, so that a waiter that
// gave up (cancelled by the window, or out of time) leaves the thread somewhere to write to.
struct LookupResult {
  LookupResult() : ready(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~LookupResult() {
    if (ready >= 0) ::close(ready);
  }
  LookupResult(const LookupResult&) = delete;
  LookupResult& operator=(const LookupResult&) = delete;

  std::mutex mutex;
  bool done = false;
  std::vector<std::string> addresses;
  std::exception_ptr failure;
  const int ready;  // readable once `done`
};

bool NeedsNoLookup(const std::string& host) {
  return message::EqualsIgnoreCase(host, "localhost") || SystemStack::IsDottedQuad(host) ||
         !SystemStack::Ipv6Literal(host).empty();
}

}  // namespace

void TcpClient::Connect() {
  if (binding().has_handle()) throw AlreadyConnected();
  ResetState();
  const bool proxied = socks_info_.version != SocksVersion::svNoSocks;
  const std::string& target_host = proxied ? socks_info_.host : host_;
  const int target_port = proxied ? socks_info_.port : port_;
  bool opened = false;
  try {
    if (!SystemStack::IsDottedQuad(target_host) && SystemStack::Ipv6Literal(target_host).empty()) {
      ReportStatus(ConnectionStatus::stResolving, target_host);
    }
    const Deadline phase(connect_phase_timeout_);
    const std::vector<std::string> addresses = LookUp(target_host, phase.Remaining());
    if (addresses.empty()) SystemStack::ThrowSocketError(kErrorNoData);
    // Every address the name has, in the resolver's order: a host reached over IPv4 only must not
    // fail because its IPv6 address refuses or never answers, and the other way round. Several
    // that never answer must not keep the user waiting a minute each, though.
    for (size_t i = 0;; ++i) {
      const WaitLimit left = phase.Remaining();
      const WaitLimit limit = Shorter(connect_timeout_, left);
      const int error = ConnectTo(addresses[i], target_port, limit);
      if (error == 0) break;
      // An address that timed out on what was left of the phase has used it up.
      const bool phase_over = !left.forever() && ((limit == left && error == ETIMEDOUT) ||
                                                  phase.Remaining().milliseconds() == 0);
      if (i + 1 == addresses.size() || !NextMayAnswer(error) || phase_over) {
        SystemStack::ThrowForErrno(error);
      }
      binding().ReleaseSocket(true);
    }
    opened = true;
    if (intercept_enabled()) intercept()->BindingConnected(binding());
  } catch (...) {
    try {
      // A socket that never reached its peer has nobody to say goodbye to: a protocol's
      // disconnect would write to it and wait for a connect that may take minutes to give up.
      if (opened) {
        Disconnect();
      } else {
        CloseConnection();
      }
    } catch (...) {
      // The first failure is the one the caller needs to see.
    }
    throw;
  }
  switch (socks_info_.version) {
    case SocksVersion::svSocks4:
    case SocksVersion::svSocks4A:
      NegotiateSocks4();
      break;
    case SocksVersion::svSocks5:
      NegotiateSocks5();
      break;
    case SocksVersion::svNoSocks:
      break;
  }
  ReportStatus(ConnectionStatus::stConnected, binding().remote_ip());
  DoOnConnected();
}

int TcpClient::ConnectTo(const std::string& address, int port, WaitLimit limit) {
  const int family = address.find(':') == std::string::npos ? AF_INET : AF_INET6;
  binding().OpenSocket(SOCK_STREAM, 0, family);
  binding().set_ip(bound_ip_);
  binding().BindLocal();
  binding().SetRemote(address, port);
  if (!use_nagle_) {
    const int on = 1;
    binding().SetOption(IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  ReportStatus(ConnectionStatus::stConnecting, binding().remote_ip());
  return binding().ConnectToPeer(family, limit) == -1 ? errno : 0;
}

std::vector<std::string> TcpClient::LookUp(const std::string& host, WaitLimit limit) {
  if (!resolver_ && NeedsNoLookup(host)) return SystemStack::LookUpAddresses(host);
  auto result = std::make_shared<LookupResult>();
  if (result->ready < 0) SystemStack::ThrowForErrno(errno);
  Resolver resolve = resolver_ ? resolver_ : Resolver(&SystemStack::LookUpAddresses);
  // A resolver that does not answer must not hold up the window: the wait below gives the pump
  // its turns and ends with a cancel or the limit, and the thread finishes on its own later.
  std::thread([result, resolve = std::move(resolve), host] {
    std::vector<std::string> addresses;
    std::exception_ptr failure;
    try {
      addresses = resolve(host);
    } catch (...) {
      failure = std::current_exception();
    }
    {
      const std::lock_guard<std::mutex> lock(result->mutex);
      result->addresses = std::move(addresses);
      result->failure = failure;
      result->done = true;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(result->ready, &one, sizeof one);
  }).detach();
  const Deadline deadline(limit);
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(result->mutex);
      if (result->done) {
        if (result->failure) std::rethrow_exception(result->failure);
        return std::move(result->addresses);
      }
    }
    if (!WaitForDescriptor(result->ready, POLLIN, deadline.Remaining())) {
      SystemStack::ThrowSocketError(kErrorTryAgain);
    }
  }
}

void TcpClient::DoOnConnected() {
  if (on_connected_) on_connected_(*this);
}

std::string TcpClient::ConnectAndReadAll() {
  Connect();
  std::string all;
  try {
    all = ReadUntilClosed();
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
  return all;
}

void TcpClient::NegotiateSocks4() {
  const bool socks4a = socks_info_.version == SocksVersion::svSocks4A;
  std::string request;
  request.push_back(4);
  request.push_back(1);
  AppendPort(request, port_);
  std::array<uint8_t, 4> address{0, 0, 0, 1};
  if (!socks4a) {
    const std::vector<std::string> found = LookUp(host_, connect_timeout_);
    const auto v4 = std::find_if(found.begin(), found.end(), SystemStack::IsDottedQuad);
    if (v4 == found.end()) SystemStack::ThrowSocketError(kErrorNoData);
    address = SystemStack::TextToAddress(*v4);
  }
  request.append(reinterpret_cast<const char*>(address.data()), 4);
  request.append(Cut255(socks_info_.user_id));
  request.push_back('\0');
  if (socks4a) {
    request.append(host_);
    request.push_back('\0');
  }
  WriteBytes(request);
  char reply[8];
  ReadBytes(reply);
  switch (static_cast<unsigned char>(reply[1])) {
    case 90:
      return;
    case 91:
      throw SocksRequestFailed();
    case 92:
      throw SocksRequestServerFailed();
    case 93:
      throw SocksRequestIdentFailed();
    default:
      throw SocksUnknownError();
  }
}

void TcpClient::ReadSocks5(std::span<char> destination) {
  try {
    ReadBytes(destination);
  } catch (const message::NetError&) {
    throw SocksServerRespondError();
  }
}

void TcpClient::NegotiateSocks5() {
  const bool with_password = socks_info_.authentication == SocksAuthentication::saUsernamePassword;
  const char method = with_password ? 2 : 0;
  const char greeting[] = {5, 1, method};
  WriteBytes(greeting);
  char answer[2];
  ReadSocks5(answer);
  if (answer[1] != method) throw SocksAuthMethodError();

  if (with_password) {
    std::string login;
    login.push_back(1);
    std::string_view user = Cut255(socks_info_.user_id);
    std::string_view password = Cut255(socks_info_.password);
    login.push_back(static_cast<char>(user.size()));
    login.append(user);
    login.push_back(static_cast<char>(password.size()));
    login.append(password);
    WriteBytes(login);
    ReadSocks5(answer);
    if (answer[1] != 0) throw SocksAuthError();
  }

  std::string request = {5, 1, 0};
  // An IPv6 address goes as its sixteen bytes (address type 4): as a name, the proxy would have
  // to look it up. Names and IPv4 addresses go as text, as they always have.
  in6_addr v6{};
  const std::string literal = SystemStack::Ipv6Literal(host_);
  const std::string plain(SystemStack::WithoutZone(literal));
  if (!literal.empty() && inet_pton(AF_INET6, plain.c_str(), &v6) == 1) {
    request.push_back(4);
    request.append(reinterpret_cast<const char*>(&v6), sizeof v6);
  } else {
    std::string_view host = Cut255(host_);
    request.push_back(3);
    request.push_back(static_cast<char>(host.size()));
    request.append(host);
  }
  AppendPort(request, port_);
  WriteBytes(request);
  char reply[5];
  ReadSocks5(reply);
  switch (static_cast<unsigned char>(reply[1])) {
    case 0:
      break;
    case 1:
      throw SocksServerGeneralError();
    case 2:
      throw SocksServerPermissionError();
    case 3:
      throw SocksServerNetUnreachableError();
    case 4:
      throw SocksServerHostUnreachableError();
    case 5:
      throw SocksServerConnectionRefusedError();
    case 6:
      throw SocksServerTTLExpiredError();
    case 7:
      throw SocksServerCommandError();
    case 8:
      throw SocksServerAddressError();
    default:
      throw SocksUnknownError();
  }
  size_t rest;
  switch (reply[3]) {
    case 1:
      rest = 5;
      break;
    case 3:
      rest = static_cast<unsigned char>(reply[4]) + 2;
      break;
    case 4:
      rest = 17;
      break;
    default:
      rest = 2;
  }
  std::vector<char> tail(rest);
  ReadSocks5(tail);
}

}  // namespace tovrel::net
