// Any proxy answer to SOCKS 4, 4A and 5 (with and without a password): the connect succeeds only
// when the proxy granted it, and then the connection holds exactly the bytes after the proxy's
// answer, none of the answer and nothing lost.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "message/net_error.h"
#include "net/tcp_client.h"
#include "preloaded_peer.h"

namespace tovrel::fuzz {
namespace {

// How many bytes of `answer` the exchange reads when it succeeds; 0 when it must not succeed.
std::size_t GrantedLength(std::string_view answer, net::SocksVersion version, bool password) {
  const auto at = [&](std::size_t i) -> int {
    return i < answer.size() ? static_cast<unsigned char>(answer[i]) : -1;
  };
  if (version != net::SocksVersion::svSocks5) return at(1) == 90 && answer.size() >= 8 ? 8 : 0;
  std::size_t used = 2;
  if (at(1) != (password ? 2 : 0)) return 0;
  if (password) {
    if (at(used + 1) != 0) return 0;
    used += 2;
  }
  if (at(used + 1) != 0) return 0;
  const int type = at(used + 3);
  const std::size_t rest = type == 1 ? 5 : type == 3 ? at(used + 4) + 2 : type == 4 ? 17 : 2;
  used += 5 + rest;
  return answer.size() >= used ? used : 0;
}

int TestOne(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto versions = {net::SocksVersion::svSocks4, net::SocksVersion::svSocks4A,
                         net::SocksVersion::svSocks5};
  const net::SocksVersion version = versions.begin()[data[0] % 3];
  const bool password = version == net::SocksVersion::svSocks5 && (data[0] & 4) != 0;
  PreloadedPeer peer(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  net::TcpClient client;
  net::SocksInfo info;
  info.version = version;
  info.host = "127.0.0.1";
  info.port = peer.port();
  info.user_id = "user";
  info.password = "secret";
  if (password) info.authentication = net::SocksAuthentication::saUsernamePassword;
  client.set_socks_info(info);
  client.set_host(version == net::SocksVersion::svSocks4 ? "127.0.0.1" : "mail.example.test");
  client.set_port(25);
  client.set_read_timeout(2000);
  const std::size_t granted = GrantedLength(peer.answer(), version, password);
  try {
    client.Connect();
  } catch (const message::NetError&) {
    Require(granted == 0 || peer.answer().size() < granted, "a granted connect failed");
    return 0;
  }
  Require(granted > 0, "a connect the proxy did not grant");
  const std::string_view held = client.input_buffer().view();
  const std::string_view after = std::string_view(peer.answer()).substr(granted);
  Require(held.size() <= after.size(), "the connection holds bytes of the proxy's answer");
  Require(held == after.substr(0, held.size()), "the bytes after the answer changed");
  client.Disconnect();
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
