#pragma once

// The first sign-in: the authorization code flow for native programs (RFC 8252) with PKCE
// (RFC 7636, S256). The provider's page opens in the system browser; its answer comes back to a
// loopback listener on 127.0.0.1 with a port of the system's choosing, where the state is
// checked, and the code is exchanged for tokens over HTTPS.

#include <QObject>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/oauth_settings.h"

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace tovrel::app {

struct CallbackRequest;

// The whole sign-in, the browser's part included; the time a connection to the listener may
// take to deliver its request; the connections served at once (more wait to be accepted).
inline constexpr std::chrono::milliseconds kSignInLimit = std::chrono::minutes(5);
inline constexpr std::chrono::milliseconds kCallbackConnectionLimit = std::chrono::seconds(10);
inline constexpr int kCallbackConnections = 16;

class OAuthSignIn : public QObject {
 public:
  // The refresh token, or empty with the reason of the failure.
  using Done = std::function<void(const std::string& refresh_token, const std::string& error)>;

  OAuthSignIn(const OAuthSettings& settings, Done done, QObject* parent = nullptr);
  ~OAuthSignIn() override;

  // Where the provider's page is opened; the system browser unless tests follow it themselves.
  void set_url_opener(std::function<void(const QUrl&)> opener) { opener_ = std::move(opener); }
  // Tests wait less than kSignInLimit.
  void set_time_limit(std::chrono::milliseconds limit) { time_limit_ = limit; }
  void Start();
  // The listener's port once started.
  quint16 port() const;

 private:
  void Accept();
  void Read(QTcpSocket* connection);
  // The page for the provider's answer to this sign-in, after acting on it; nothing for any
  // other request.
  std::optional<std::string> TakeCallback(const CallbackRequest& request);
  void Exchange(const std::string& code);
  void Finish(const std::string& refresh_token, const std::string& error);

  OAuthSettings settings_;
  QTcpServer* listener_;
  QTimer* whole_;
  std::function<void(const QUrl&)> opener_;
  Done done_;
  std::chrono::milliseconds time_limit_ = kSignInLimit;
  std::string verifier_;
  std::string state_;
  std::string redirect_uri_;
  int connections_ = 0;
  bool answered_ = false;  // the provider's answer came; later ones are not heeded
  bool finished_ = false;
};

}  // namespace tovrel::app
