#pragma once

// The client side of a TCP connection: resolves the host, connects (directly or through a
// SOCKS 4, 4A or 5 proxy) and reports the connection status. A connect waits at most
// connect_timeout() milliseconds for each address to answer, and the whole connect phase (the
// lookup and every address) takes at most connect_phase_timeout(); then the last failure counts.
// The lookup runs on a thread of its own, so that the window's pump keeps its turns during it.

#include <functional>
#include <string>
#include <vector>

#include "net/tcp_connection.h"

namespace tovrel::net {

enum class SocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum class SocksAuthentication { saNoAuthentication, saUsernamePassword };

// Proxy settings; copying copies every field.
struct SocksInfo {
  SocksAuthentication authentication = SocksAuthentication::saNoAuthentication;
  std::string host;
  std::string password;
  int port = 0;
  std::string user_id;
  SocksVersion version = SocksVersion::svNoSocks;
};

class TcpClient : public TcpConnection {
 public:
  static constexpr int kDefaultConnectTimeout = 60 * 1000;
  static constexpr int kDefaultConnectPhaseTimeout = 90 * 1000;

  explicit TcpClient(BaseComponent* owner = nullptr) : TcpConnection(owner) {}

  const std::string& bound_ip() const { return bound_ip_; }
  void set_bound_ip(const std::string& ip) { bound_ip_ = ip; }
  const std::string& host() const { return host_; }
  void set_host(const std::string& host) { host_ = host; }
  int port() const { return port_; }
  void set_port(int port) { port_ = port; }
  bool use_nagle() const { return use_nagle_; }
  void set_use_nagle(bool value) { use_nagle_ = value; }
  const SocksInfo& socks_info() const { return socks_info_; }
  void set_socks_info(const SocksInfo& info) { socks_info_ = info; }
  void set_on_connected(std::function<void(TcpClient&)> handler) {
    on_connected_ = std::move(handler);
  }
  // Gives the addresses of a host name in the order to try them; the system's resolver when
  // unset. Tests put a list of their own here. It is called on a thread of its own and may
  // still be running, on a copy of itself, after a cancelled connect has ended.
  using Resolver = std::function<std::vector<std::string>(const std::string& host)>;
  void set_resolver(Resolver resolver) { resolver_ = std::move(resolver); }
  WaitLimit connect_timeout() const { return connect_timeout_; }
  void set_connect_timeout(WaitLimit limit) { connect_timeout_ = limit; }
  WaitLimit connect_phase_timeout() const { return connect_phase_timeout_; }
  void set_connect_phase_timeout(WaitLimit limit) { connect_phase_timeout_ = limit; }

  virtual void Connect();
  // Connects, reads until the peer closes, and disconnects in every case.
  std::string ConnectAndReadAll();

 protected:
  virtual void DoOnConnected();

 private:
  // Opens a socket for `address` and connects it within `limit`; 0, or the errno value of the
  // failure.
  int ConnectTo(const std::string& address, int port, WaitLimit limit);
  // The addresses of `host`, looked up off this thread within `limit`.
  std::vector<std::string> LookUp(const std::string& host, WaitLimit limit);
  void NegotiateSocks4();
  void NegotiateSocks5();
  void ReadSocks5(std::span<char> destination);

  std::string bound_ip_;
  std::string host_;
  int port_ = 0;
  bool use_nagle_ = true;
  SocksInfo socks_info_;
  std::function<void(TcpClient&)> on_connected_;
  WaitLimit connect_timeout_ = kDefaultConnectTimeout;
  WaitLimit connect_phase_timeout_ = kDefaultConnectPhaseTimeout;
  Resolver resolver_;
};

}  // namespace tovrel::net
