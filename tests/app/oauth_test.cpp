// The OAuth 2.0 sign-in against a local authorization server over HTTPS, the token command, and
// the unattended send that takes its refresh token from the tests' session keyring.

#include <gtest/gtest.h>
#include <signal.h>

#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QUrlQuery>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <tuple>

#include "app/oauth_sign_in.h"
#include "app/oauth_token.h"
#include "app/settings_layout.h"
#include "app/sign_in_dialog.h"
#include "app/texts.h"
#include "app/unattended_send.h"
#include "app_fixture.h"
#include "gui_helpers.h"
#include "keyring_daemon.h"
#include "net/send_observer.h"
#include "net/smtp_client.h"
#include "support/loopback_server.h"
#include "support/tls_test_server.h"

namespace tovrel::app {
namespace {

class OAuthTest : public test::AppTest {
 protected:
  OAuthTest() {
    const test::TempDir& certs = test::TestCertificates();
    server_ = std::make_unique<test::ChildProcess>(
        std::vector<std::string>{test::kPython, test::SourcePath("tests/support/oauth_server.py"),
                                 certs.File("server.pem"), certs.File("server.key")});
    base_ = "https://127.0.0.1:" + server_->ReadLine();
    settings_.enabled = true;
    settings_.provider = "custom";
    settings_.client_id = "app";
    settings_.custom = {base_ + "/authorize", base_ + "/token", "smtp"};
  }

  std::unique_ptr<test::ChildProcess> server_;
  std::string base_;
  OAuthSettings settings_;
};

// What the user's browser would do: the provider's page, then the redirect it answers with.
void FollowInsteadOfBrowser(QNetworkAccessManager& browser, const QUrl& url, std::string& seen) {
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  tls.addCaCertificates(QString::fromLocal8Bit(qgetenv("SSL_CERT_FILE")));
  request.setSslConfiguration(tls);
  QNetworkReply* page = browser.get(request);
  QObject::connect(page, &QNetworkReply::finished, [&browser, page, &seen] {
    page->deleteLater();
    const QUrl back = page->header(QNetworkRequest::LocationHeader).toUrl();
    seen = back.isEmpty() ? page->readAll().toStdString() : back.toString().toStdString();
    if (!back.isEmpty()) browser.get(QNetworkRequest(back))->setParent(&browser);
  });
}

TEST_F(OAuthTest, CodeFlowWithPkceThenRefreshRotationAndRefusal) {
  std::string refresh;
  std::string error = "not finished";
  QNetworkAccessManager browser;
  std::string redirect;
  std::string state;
  OAuthSignIn sign_in(settings_, [&](const std::string& token, const std::string& failure) {
    refresh = token;
    error = failure;
  });
  sign_in.set_url_opener([&](const QUrl& url) {
    const QUrlQuery query(url);
    state = query.queryItemValue(QStringLiteral("state")).toStdString();
    FollowInsteadOfBrowser(browser, url, redirect);
  });
  sign_in.Start();
  ASSERT_TRUE(test::WaitFor([&] { return error != "not finished"; }, 20000)) << redirect;
  EXPECT_EQ(error, "");
  EXPECT_EQ(refresh, "r1");
  // The server checked client, challenge and method; the answer came back to the loopback
  // listener with the state it was sent.
  EXPECT_TRUE(redirect.starts_with("http://127.0.0.1:")) << redirect;
  EXPECT_NE(redirect.find("state=" + state), std::string::npos) << redirect;

  const TokenGrant rotated = ObtainAccessToken(settings_, "r1");
  EXPECT_EQ(rotated.access_token, "a2");
  EXPECT_EQ(rotated.refresh_token, "r2");
  const TokenGrant kept = ObtainAccessToken(settings_, "r2");
  EXPECT_EQ(kept.access_token, "a3");
  EXPECT_EQ(kept.refresh_token, "");
  try {
    ObtainAccessToken(settings_, "r0");
    ADD_FAILURE() << "a refused refresh token gave a token";
  } catch (const SignInRefused& refused) {
    EXPECT_STREQ(refused.what(), texts::kSignInAgain);
  }
}

// The token endpoint's answers that are refused, and a URL refused before anything is sent.
TEST_F(OAuthTest, TokenRequestRefusals) {
  const std::tuple<std::string, std::chrono::milliseconds, std::string> cases[] = {
      {"http://127.0.0.1:1/token", kTokenRequestLimit,
       "The token URL is not an https: address: http://127.0.0.1:1/token"},
      {base_ + "/moved", kTokenRequestLimit,
       "sent the request on to /token, which is not followed"},
      {base_ + "/big", kTokenRequestLimit, "the answer is larger than 64 KiB"},
      // A byte every 0.3 s: no pause long enough for the transfer's own time-out.
      {base_ + "/trickle", std::chrono::milliseconds(1000), "no complete answer within 1 s"},
  };
  for (const auto& [url, limit, text] : cases) {
    SCOPED_TRACE(url);
    try {
      RequestToken(url,
                   {{"grant_type", "refresh_token"}, {"refresh_token", "r1"}, {"client_id", "app"}},
                   limit);
      ADD_FAILURE() << "granted";
    } catch (const TokenError& error) {
      EXPECT_NE(std::string(error.what()).find(text), std::string::npos) << error.what();
    }
  }
}

// What the listener answers to a request, as another program on this machine would see it.
std::string AskListener(quint16 port, const std::string& request) {
  QTcpSocket socket;
  QObject::connect(&socket, &QTcpSocket::connected,
                   [&] { socket.write(QByteArray::fromStdString(request)); });
  socket.connectToHost(QHostAddress::LocalHost, port);
  std::string answer;
  test::WaitFor([&] {
    answer += socket.readAll().toStdString();
    return socket.state() == QAbstractSocket::UnconnectedState;
  });
  return answer;
}

// Requests that are not the provider's answer to this sign-in change nothing; the real one
// afterwards still signs in.
TEST_F(OAuthTest, SignInHeedsOnlyItsOwnCallback) {
  std::string refresh;
  std::string error = "not finished";
  QUrl page;
  OAuthSignIn sign_in(settings_, [&](const std::string& token, const std::string& failure) {
    refresh = token;
    error = failure;
  });
  sign_in.set_url_opener([&](const QUrl& url) { page = url; });
  sign_in.Start();
  const std::string state = QUrlQuery(page).queryItemValue(QStringLiteral("state")).toStdString();
  const std::string host = "Host: 127.0.0.1:" + std::to_string(sign_in.port()) + "\r\n";
  const struct {
    const char* name;
    std::string request;
    const char* status;
  } foreign[] = {
      {"error without state",
       "GET /?error=access_denied&error_description=Call+evil HTTP/1.1\r\n" + host + "\r\n",
       "HTTP/1.1 400"},
      {"wrong state", "GET /?code=c1&state=wrong HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 400"},
      {"another host name",
       "GET /?code=c1&state=" + state +
           " HTTP/1.1\r\nHost: evil.example:" + std::to_string(sign_in.port()) + "\r\n\r\n",
       "HTTP/1.1 400"},
      {"header beyond 8 KiB",
       "GET /?code=c1&state=" + state + " HTTP/1.1\r\n" + host + "X: " + std::string(9000, 'a') +
           "\r\n\r\n",
       "HTTP/1.1 431"},
  };
  for (const auto& f : foreign) {
    SCOPED_TRACE(f.name);
    const std::string answer = AskListener(sign_in.port(), f.request);
    EXPECT_TRUE(answer.starts_with(f.status)) << answer;
    EXPECT_EQ(answer.find("signed in"), std::string::npos) << answer;
    EXPECT_EQ(error, "not finished");
  }
  QNetworkAccessManager browser;
  std::string redirect;
  FollowInsteadOfBrowser(browser, page, redirect);
  ASSERT_TRUE(test::WaitFor([&] { return error != "not finished"; }, 20000)) << redirect;
  EXPECT_EQ(error, "");
  EXPECT_EQ(refresh, "r1");
}

// A sign-in that cannot be safe ends before the browser opens; one nobody finishes ends by its
// limit.
TEST_F(OAuthTest, SignInRefusedOrTimedOut) {
  // The authorization and token URLs; the error; whether the browser opened.
  const std::tuple<std::string, std::string, std::string, bool> cases[] = {
      {"file:///etc/passwd", base_ + "/token",
       "The authorization URL is not an https: address: file:///etc/passwd", false},
      {"javascript:alert(1)", base_ + "/token",
       "The authorization URL is not an https: address: javascript:alert(1)", false},
      {base_ + "/authorize", "http://127.0.0.1:1/token",
       "The token URL is not an https: address: http://127.0.0.1:1/token", false},
      {base_ + "/authorize", base_ + "/token", texts::kSignInTooLong, true},
  };
  for (const auto& [auth_url, token_url, expected_error, expected_open] : cases) {
    SCOPED_TRACE(auth_url + " " + token_url);
    settings_.custom.auth_url = auth_url;
    settings_.custom.token_url = token_url;
    std::string error = "not finished";
    bool opened = false;
    OAuthSignIn sign_in(settings_,
                        [&](const std::string&, const std::string& failure) { error = failure; });
    sign_in.set_url_opener([&](const QUrl&) { opened = true; });
    sign_in.set_time_limit(std::chrono::milliseconds(300));
    sign_in.Start();
    EXPECT_TRUE(test::WaitFor([&] { return error != "not finished"; }));
    EXPECT_EQ(error, expected_error);
    EXPECT_EQ(opened, expected_open);
  }
}

// Whether the process of the number written into `file` has ended (a zombie counts as ended).
bool ProcessEnded(const std::string& file) {
  const std::string text = test::ReadFile(file);
  const pid_t pid = std::stoi(text);
  std::string stat;
  try {
    stat = test::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  } catch (const std::runtime_error&) {
    return true;
  }
  return stat.find(") Z ") != std::string::npos;
}

TEST(TokenCommand, FirstLineOrTheFailureWithStatusAndErrorLine) {
  EXPECT_EQ(RunTokenCommand("printf 'ya29.tok\\nmore\\n'"), "ya29.tok");
  const struct {
    const char* command;
    std::chrono::milliseconds limit;
    const char* text;
  } failures[] = {
      {"echo denied >&2; echo partial; exit 3", kTokenCommandLimit,
       "The token command failed (exit status 3): denied"},
      {"echo nothing here >&2", kTokenCommandLimit,
       "The token command printed no token (exit status 0): nothing here"},
      {"echo slow >&2; exec sleep 30", std::chrono::milliseconds(1000),
       "The token command did not finish within 1 s: slow"},
      {"head -c 70000 /dev/zero | tr '\\0' a", kTokenCommandLimit,
       "The token command's first line is longer than 64 KiB"},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.command);
    try {
      RunTokenCommand(f.command, f.limit);
      ADD_FAILURE() << "no failure";
    } catch (const TokenError& error) {
      EXPECT_STREQ(error.what(), f.text);
    }
  }
}

// A program the command started ends with it, at the limit and when the send is cancelled.
TEST(TokenCommand, LimitAndCancelEndTheWholeGroup) {
  const test::TempDir dir;
  const std::string command = "sleep 30 & echo $! >" + dir.File("pid") + "; wait";
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancel" : "limit");
    test::StopWhen observer([] { return true; });
    net::SmtpClient smtp;
    std::optional<net::ObservedSend> observed;
    if (cancel) observed.emplace(smtp, observer);
    try {
      RunTokenCommand(command, std::chrono::milliseconds(cancel ? 30000 : 1000));
      ADD_FAILURE() << "no failure";
    } catch (const TokenError& error) {
      EXPECT_FALSE(cancel) << error.what();
    } catch (const net::SendCancelled&) {
      EXPECT_TRUE(cancel);
    }
    EXPECT_TRUE(test::WaitFor([&] { return ProcessEnded(dir.File("pid")); }, 5000));
  }
}

// The send without a window: the refresh token from the keyring, the rotated one back into it,
// the access token on the AUTH line; then a refused sign-in ends the run with status 1.
TEST_F(OAuthTest, UnattendedSendRefreshesFromTheKeyring) {
  test::KeyringDaemon& daemon = test::KeyringDaemon::Shared();
  daemon.Clear();
  setenv("DBUS_SESSION_BUS_ADDRESS", daemon.address().c_str(), 1);
  StoreAccount("Jane", "jane@example.org");
  Store("smtp", "smtp", "localhost");
  Store("smtp", "security", "tls");
  WriteOAuthSettings(store_, settings_);
  Account account;
  account.smtp_server = "localhost";
  SecretServiceKeyring keyring;
  ASSERT_EQ(ChangeKeyringRefreshToken(keyring, RefreshTokenEntry(account), "r1"),
            KeyringAnswer::kaDone);

  const std::string bearer =
      "AUTH OAUTHBEARER bixhPWphbmVAZXhhbXBsZS5vcmcsAWF1dGg9QmVhcmVyIGEyAQE=";
  test::ScriptedTlsServer smtp_server(
      "server", {"tls", "send:220 mx", "line", "send:250-mx\\r\\n250 AUTH OAUTHBEARER", "line",
                 "send:250 reset", "show", "send:235 ok", "line", "send:554 enough"});
  Store("port", "port", std::to_string(smtp_server.port()));
  std::ostringstream boxes;
  net::SmtpClient smtp;
  EXPECT_EQ(RunUnattendedSend({"bob@example.org", "S", "B", "send"}, boxes, smtp), 1);
  EXPECT_EQ(smtp_server.Result(), bearer);  // "n,a=jane@example.org,^Aauth=Bearer a2^A^A"
  EXPECT_NE(boxes.str().find("554 enough"), std::string::npos) << boxes.str();
  EXPECT_EQ(daemon.Lookup("localhost", "oauth2:"), "r2");
  EXPECT_EQ(ReadStoredRefreshToken(store_), "");

  ASSERT_EQ(ChangeKeyringRefreshToken(keyring, RefreshTokenEntry(account), "r0"),
            KeyringAnswer::kaDone);
  std::ostringstream refused;
  EXPECT_EQ(RunUnattendedSend({"bob@example.org", "S", "B", "send"}, refused, smtp), 1);
  EXPECT_NE(refused.str().find(texts::kSignInAgain), std::string::npos) << refused.str();
  // The refused sign-in is forgotten, and the Sign-in dialog asks for a new one.
  EXPECT_EQ(daemon.Lookup("localhost", "oauth2:"), std::nullopt);
  ASSERT_TRUE(ReadSignInRefused(store_));
  SignInDialog dialog(nullptr, settings_, "jane@example.org", RefreshTokenEntry(account), false,
                      ReadSignInRefused(store_));
  auto* state = Find<QLabel>(&dialog, "SignInState");
  EXPECT_TRUE(test::WaitFor([&] { return !state->text().endsWith("..."); }));
  EXPECT_EQ(Text(state->text()), "The provider refused the saved sign-in: sign in again.");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// A token endpoint that nobody answers, or that keeps silent, may answer later: the send waits in
// the outbox (status 75) as it would for an SMTP server out of reach.
TEST_F(OAuthTest, ATokenEndpointOutOfReachIsAFailureThatMayPass) {
  test::LoopbackServer silent({test::SmtpScript({"<silent>"})});
  for (const int port : {test::RefusedPort(), silent.port()}) {
    const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/token";
    EXPECT_THROW(RequestToken(url, {}, std::chrono::milliseconds(500)), TokenUnreachable) << port;
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", test::KeyringDaemon::Shared().address().c_str(), 1);
  StoreAccount("Jane", "jane@example.org");
  Store("smtp", "smtp", "localhost");
  Store("smtp", "security", "tls");
  settings_.custom.token_url = "https://127.0.0.1:" + std::to_string(test::RefusedPort()) + "/t";
  WriteOAuthSettings(store_, settings_);
  const Account account{.smtp_server = "localhost", .port = "", .user_name = "", .password = ""};
  SecretServiceKeyring keyring;
  ASSERT_EQ(ChangeKeyringRefreshToken(keyring, RefreshTokenEntry(account), "r1"),
            KeyringAnswer::kaDone);
  std::ostringstream boxes;
  net::SmtpClient smtp;
  EXPECT_EQ(RunUnattendedSend({"bob@example.org", "S", "B", "send"}, boxes, smtp), 75);
  EXPECT_TRUE(boxes.str().ends_with(std::string(texts::kKeptInOutbox) + "\n")) << boxes.str();
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace tovrel::app
