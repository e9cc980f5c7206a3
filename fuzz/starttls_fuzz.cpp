// Any server answer to a client that must start TLS: nothing but the hand-shake's first record
// ever follows "STARTTLS" on the wire, no command that matters goes out in the clear, and bytes
// that came after the server's "220" (before any hand-shake) mean nothing follows at all.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "message/net_error.h"
#include "net/smtp_client.h"
#include "preloaded_peer.h"

namespace tovrel::fuzz {
namespace {

int TestOne(const std::uint8_t* data, std::size_t size) {
  PreloadedPeer peer(std::string_view(reinterpret_cast<const char*>(data), size));
  net::SmtpClient client;
  client.set_host("127.0.0.1");
  client.set_port(peer.port());
  client.set_tls_mode(net::TlsMode::tmStartTls);
  // No hand-shake here ever gets as far as a certificate, and loading the system's CA store for
  // each input made it the run's whole cost (a tenth of a second an input).
  client.set_certificate_check(net::CertificateCheck::ccNone);
  client.set_authentication_type(net::AuthenticationType::atLogin);
  client.set_user_id("user");
  client.set_password("secret");
  client.set_greeting_timeout(2000);
  client.set_command_timeout(2000);
  client.set_data_block_timeout(500);
  bool connected = true;
  std::string failure;
  try {
    client.Connect();
  } catch (const message::NetError& e) {
    connected = false;
    failure = e.what();
  }
  Require(!connected, "a session without a server that speaks TLS");
  client.Disconnect();
  const std::string wire = peer.Received();
  const std::size_t starttls = wire.find("STARTTLS\r\n");
  const std::string after =
      starttls == std::string::npos ? std::string() : wire.substr(starttls + 10);
  Require(after.empty() || after[0] == '\x16', "clear text after STARTTLS");
  Require(wire.find("AUTH") == std::string::npos && wire.find("MAIL") == std::string::npos &&
              wire.find("c2VjcmV0") == std::string::npos,
          "a login or a message in the clear");
  if (failure.find("sent data before TLS started") != std::string::npos) {
    Require(after.empty(), "a hand-shake after data in the clear");
  }
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
