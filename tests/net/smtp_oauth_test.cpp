// Signing in with an OAuth 2.0 bearer token, as a scripted TLS server sees it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "support/tls_test_server.h"

namespace tovrel::net {
namespace {

TEST(SmtpOAuth, BearerTokenDialogue) {
  // RFC 7628 section 3.1 "n,a=jane@example.org,^Aauth=Bearer ya29.tok^A^A" and XOAUTH2's
  // "user=jane@example.org^Aauth=Bearer ya29.tok^A^A", base64.
  const std::string bearer =
      "AUTH OAUTHBEARER bixhPWphbmVAZXhhbXBsZS5vcmcsAWF1dGg9QmVhcmVyIHlhMjkudG9rAQE=";
  const std::string xoauth =
      "AUTH XOAUTH2 dXNlcj1qYW5lQGV4YW1wbGUub3JnAWF1dGg9QmVhcmVyIHlhMjkudG9rAQE=";
  // {"status":"401","schemes":"bearer","scope":"https://mail.google.com/"}
  const std::string challenge =
      "send:334 eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJodHRwczovL21haWwuZ29v"
      "Z2xlLmNvbS8ifQ==";
  const std::string both = "send:250-mx.test\\r\\n250 AUTH PLAIN OAUTHBEARER XOAUTH2";
  const std::string xoauth_only = "send:250-mx.test\\r\\n250 AUTH LOGIN XOAUTH2";
  const std::string refused = "status 401, scope https://mail.google.com/";
  struct Case {
    const char* name;
    TlsMode mode;
    std::string ehlo;
    std::vector<std::string> after_auth;  // the steps after the AUTH line was shown
    std::vector<std::string> shown;       // the lines the server printed, in order
    std::string failure;                  // a part of the error's text
    bool stored = false;                  // sent from a message file (the outbox) instead
    std::string user = "jane@example.org";
    std::string token = "ya29.tok";
  };
  std::vector<Case> cases = {
      {"oauthbearer preferred",
       TlsMode::tmImplicit,
       both,
       {"send:235 ok", "line", "send:554 no"},
       {bearer},
       "554 no"},
      {"xoauth2",
       TlsMode::tmImplicit,
       xoauth_only,
       {"send:235 ok", "line", "send:554 no"},
       {xoauth},
       "554 no"},
      {"oauthbearer error",
       TlsMode::tmImplicit,
       both,
       {challenge, "show", "send:535 5.7.8 no"},
       {bearer, "AQ=="},
       refused},
      {"xoauth2 error",
       TlsMode::tmImplicit,
       xoauth_only,
       {challenge, "show", "send:535 5.7.8 no"},
       {xoauth, ""},
       refused},
      // In the clear the token never leaves: the next line is the goodbye.
      {"plain connection", TlsMode::tmNone, both, {}, {"Quit"}, "needs TLS"},
      {"plain connection, stored message", TlsMode::tmNone, both, {}, {"Quit"}, "needs TLS", true},
      // "n,a=a=2Cb=3Dc@example.org,^Aauth=Bearer ya29.tok^A^A": the name cannot end the header.
      {"user name escaped",
       TlsMode::tmImplicit,
       both,
       {"send:235 ok", "line", "send:554 no"},
       {"AUTH OAUTHBEARER bixhPWE9MkNiPTNEY0BleGFtcGxlLm9yZywBYXV0aD1CZWFyZXIgeWEyOS50b2sBAQ=="},
       "554 no",
       false,
       "a,b=c@example.org"},
  };
  // A token that would add pairs of its own, or a blank, never goes out.
  for (const char* token : {"ya29.tok\x01host=evil", "ya29 tok"}) {
    cases.push_back({token, TlsMode::tmImplicit, both, {}, {"Quit"}, "bearer token cannot"});
    cases.back().token = token;
  }
  const test::TempDir dir;
  const std::string stored = dir.File("kept.msg");
  test::WriteFile(stored, "Subject: kept\r\n\r\nbody\r\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> steps = {"send:220 mx.test", "line", c.ehlo};
    if (c.mode != TlsMode::tmNone) {
      steps.insert(steps.begin(), "tls");
      steps.insert(steps.end(), {"line", "send:250 reset"});
    }
    steps.push_back("show");
    steps.insert(steps.end(), c.after_auth.begin(), c.after_auth.end());
    test::ScriptedTlsServer server("server", steps);
    SmtpClient client;
    client.set_host("localhost");
    client.set_port(server.port());
    client.set_tls_mode(c.mode);
    client.set_authentication_type(AuthenticationType::atOAuth2);
    client.set_user_id(c.user);
    client.set_access_token(c.token);
    message::Message message;
    message.from().set_address("jane@example.org");
    message.recipients().AddItem().set_address("bob@example.org");
    std::string failure;
    try {
      client.Connect();
      if (c.stored) {
        client.SendRaw({"jane@example.org", {"bob@example.org"}}, stored);
      } else {
        client.Send(message);
      }
    } catch (const message::NetError& error) {
      failure = error.what();
    }
    try {
      client.Disconnect();
    } catch (const message::NetError&) {  // the script may have ended first
    }
    for (const std::string& line : c.shown) EXPECT_EQ(server.Result(), line);
    EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
  }
}

}  // namespace
}  // namespace tovrel::net
