// The line a failed send's error box adds: what to check, naming the server and port, for each
// kind of failure a setting can cause, and none for the others.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/error_report.h"
#include "net/net_errors.h"

namespace tovrel::app {
namespace {

TEST(SendFailureHint, NamesWhatToCheckForEachKindOfFailure) {
  const auto on = [](const char* port, net::TlsMode security) {
    Account account;
    account.smtp_server = "mail.example.org";
    account.port = port;
    account.security = security;
    return account;
  };
  const Account plain = on("25", net::TlsMode::tmNone);
  const Account implicit_port = on("465", net::TlsMode::tmStartTls);
  const struct {
    const char* kind;
    std::function<void()> raise;
    Account account;
    std::string hint;
  } cases[] = {
      {"refused", [] { throw net::SocketError(10061, "Socket Error # 10061\r\nRefused."); }, plain,
       "Check the SMTP server (mail.example.org) and the port (25) in Settings."},
      {"unknown host", [] { throw net::SocketError(11001, "Socket Error # 11001"); }, plain,
       "Check the SMTP server (mail.example.org) and the port (25) in Settings."},
      {"535", [] { throw net::ProtocolReplyError(535, "535 5.7.8 Invalid."); }, plain,
       "Check the user name and password in Settings for mail.example.org, port 25."},
      {"certificate", [] { throw net::TlsCertificateRefused("TLS: certificate verify failed"); },
       plain,
       "Check the certificate of mail.example.org (port 25); for a certificate of the server's "
       "own making set \"tlsverify\" to \"0\" in the smtp section of user.reg."},
      {"silent on 465", [] { throw net::SocketError(10060, "Socket Error # 10060"); },
       implicit_port,
       "Check Security in Settings: mail.example.org answers on port 465 only after an SSL/TLS "
       "start."},
      {"closed on 465", [] { throw net::ConnClosedGracefully(); }, implicit_port,
       "Check Security in Settings: mail.example.org answers on port 465 only after an SSL/TLS "
       "start."},
      {"timed out on 25", [] { throw net::SocketError(10060, "Socket Error # 10060"); }, plain, ""},
      {"550", [] { throw net::ProtocolReplyError(550, "550 No such user."); }, plain, ""},
      {"handshake", [] { throw net::TlsError("TLS: handshake failed"); }, plain, ""},
  };
  for (const auto& c : cases) {
    try {
      c.raise();
    } catch (const std::exception& error) {
      EXPECT_EQ(SendFailureHint(error, c.account), c.hint) << c.kind;
    }
  }
}

}  // namespace
}  // namespace tovrel::app
