#pragma once

// The first sign-in: the authorization code flow for native programs (RFC 8252) with PKCE
// (RFC 7636, S256). The provider's page opens in the system browser; its answer comes back to a
// loopback listener on 127.0.0.1 with a port of the system's choosing, where the state is
// checked, and the code is exchanged for tokens over HTTPS.

#include <QObject>
#include <QUrl>
#include <functional>
#include <string>

#include "app/oauth_settings.h"

class QOAuth2AuthorizationCodeFlow;
class QOAuthHttpServerReplyHandler;

namespace tovrel::app {

class OAuthSignIn : public QObject {
 public:
  // The refresh token, or empty with the reason of the failure.
  using Done = std::function<void(const std::string& refresh_token, const std::string& error)>;

  OAuthSignIn(const OAuthSettings& settings, Done done, QObject* parent = nullptr);
  ~OAuthSignIn() override;

  // Where the provider's page is opened; the system browser unless tests follow it themselves.
  void set_url_opener(std::function<void(const QUrl&)> opener) { opener_ = std::move(opener); }
  void Start();

 private:
  void Finish(const std::string& refresh_token, const std::string& error);

  QOAuth2AuthorizationCodeFlow* flow_;
  QOAuthHttpServerReplyHandler* listener_;
  std::function<void(const QUrl&)> opener_;
  Done done_;
  std::string verifier_;
  bool finished_ = false;
};

}  // namespace tovrel::app
