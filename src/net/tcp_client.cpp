#include "net/tcp_client.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>

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

}  // namespace

void TcpClient::Connect() {
  if (binding().has_handle()) throw AlreadyConnected();
  ResetState();
  binding().OpenSocket(SOCK_STREAM, 0);
  SystemStack& stack = *SocketStack();
  bool opened = false;
  try {
    binding().set_ip(bound_ip_);
    binding().BindLocal();
    const bool proxied = socks_info_.version != SocksVersion::svNoSocks;
    const std::string& target_host = proxied ? socks_info_.host : host_;
    const int target_port = proxied ? socks_info_.port : port_;
    if (!SystemStack::IsDottedQuad(target_host)) {
      ReportStatus(ConnectionStatus::stResolving, target_host);
    }
    binding().SetRemote(stack.ResolveHostAddress(target_host), target_port);
    if (!use_nagle_) {
      const int on = 1;
      binding().SetOption(IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ReportStatus(ConnectionStatus::stConnecting, binding().remote_ip());
    stack.CheckSocketResult(binding().ConnectToPeer(AF_INET, connect_timeout_));
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
  if (!socks4a) address = SystemStack::TextToAddress(SocketStack()->ResolveHostAddress(host_));
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

  std::string request = {5, 1, 0, 3};
  std::string_view host = Cut255(host_);
  request.push_back(static_cast<char>(host.size()));
  request.append(host);
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
