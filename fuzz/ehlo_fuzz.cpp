// Any EHLO reply: the mechanisms taken from it are distinct, non-empty single words that the
// reply holds, free of control characters, and 8-bit text is allowed only when the reply names
// 8BITMIME.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "message/net_error.h"
#include "message/string_helpers.h"
#include "net/smtp_client.h"
#include "preloaded_peer.h"

namespace tovrel::fuzz {
namespace {

int TestOne(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  PreloadedPeer peer("220 fuzz\r\n" + reply);
  net::SmtpClient client;
  client.set_host("127.0.0.1");
  client.set_port(peer.port());
  client.set_greeting_timeout(2000);
  client.set_command_timeout(2000);
  try {
    client.Connect();
  } catch (const message::NetError&) {
    return 0;
  }
  const std::string upper = message::AsciiUpper(peer.answer());
  std::set<std::string> seen;
  for (const std::string& name : client.server_auth_mechanisms()) {
    Require(!name.empty(), "an empty mechanism");
    Require(std::none_of(name.begin(), name.end(),
                         [](char c) {
                           const auto u = static_cast<unsigned char>(c);
                           return u <= ' ' || u == '=' || u == 127;
                         }),
            "a mechanism of several words or with a control character");
    Require(upper.find(message::AsciiUpper(name)) != std::string::npos,
            "a mechanism the reply does not hold");
    Require(seen.insert(message::AsciiUpper(name)).second, "a mechanism twice");
  }
  if (client.eight_bit_allowed()) {
    Require(upper.find("8BITMIME") != std::string::npos, "8-bit text without 8BITMIME");
  }
  client.Disconnect();
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
