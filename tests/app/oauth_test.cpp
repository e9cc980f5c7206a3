// The OAuth 2.0 sign-in against a local authorization server over HTTPS, the token command, and
// the unattended send that takes its refresh token from the tests' session keyring.

#include <gtest/gtest.h>

#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrlQuery>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "app/oauth_sign_in.h"
#include "app/oauth_token.h"
#include "app/settings_layout.h"
#include "app/sign_in_dialog.h"
#include "app/texts.h"
#include "app/unattended_send.h"
#include "app_fixture.h"
#include "gui_helpers.h"
#include "keyring_daemon.h"
#include "net/smtp_client.h"
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

}  // namespace
}  // namespace tovrel::app
