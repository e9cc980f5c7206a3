#include "app/oauth_sign_in.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>

#include "app/linked_services.h"
#include "app/oauth_token.h"
#include "app/text_rules.h"
#include "app/texts.h"

namespace tovrel::app {

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// RFC 7636 section 4.1: 32 random octets give the 43 characters of a verifier.
std::string NewVerifier() {
  QByteArray random(32, '\0');
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(random.data()),
                                        random.size() / 4);
  return random.toBase64(kBase64Url).toStdString();
}

QString Challenge(const std::string& verifier) {
  return QString::fromLatin1(
      QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256)
          .toBase64(kBase64Url));
}

}  // namespace

OAuthSignIn::OAuthSignIn(const OAuthSettings& settings, Done done, QObject* parent)
    : QObject(parent),
      flow_(new QOAuth2AuthorizationCodeFlow(this)),
      listener_(new QOAuthHttpServerReplyHandler(QHostAddress(QHostAddress::LocalHost), 0, this)),
      opener_([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      done_(std::move(done)),
      verifier_(NewVerifier()) {
  TrustCertificateFileOfEnvironment();
  const OAuthEndpoints endpoints = settings.endpoints();
  flow_->setAuthorizationUrl(QUrl(QString::fromStdString(endpoints.auth_url)));
  flow_->setAccessTokenUrl(QUrl(QString::fromStdString(endpoints.token_url)));
  flow_->setScope(QString::fromStdString(endpoints.scope));
  flow_->setClientIdentifier(QString::fromStdString(settings.client_id));
  flow_->setClientIdentifierSharedKey(QString::fromStdString(settings.client_secret));
  flow_->setReplyHandler(listener_);
  flow_->setNetworkAccessManager(new QNetworkAccessManager(this));
  listener_->setCallbackText(QString::fromLatin1(texts::kSignInBrowserDone));
  flow_->setModifyParametersFunction(
      [this](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
        if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
          parameters->insert(QStringLiteral("code_challenge"), Challenge(verifier_));
          parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
          // Google hands out a refresh token only when asked for offline access.
          parameters->insert(QStringLiteral("access_type"), QStringLiteral("offline"));
        } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
          parameters->insert(QStringLiteral("code_verifier"), QString::fromStdString(verifier_));
        }
      });
  connect(flow_, &QAbstractOAuth::authorizeWithBrowser, this,
          [this](const QUrl& url) { opener_(url); });
  connect(flow_, &QAbstractOAuth::granted, this, [this] {
    const std::string refresh = flow_->refreshToken().toStdString();
    Finish(refresh, refresh.empty() ? texts::kNoRefreshToken : "");
  });
  connect(flow_, &QAbstractOAuth2::error, this,
          [this](const QString& error, const QString& description, const QUrl&) {
            Finish({},
                   VisibleText(OneLine((error + QLatin1Char(' ') + description).toStdString())));
          });
  // A refused code exchange says why only in the body of its answer.
  connect(flow_->networkAccessManager(), &QNetworkAccessManager::finished, this,
          [this](QNetworkReply* reply) {
            if (reply->error() == QNetworkReply::NoError) return;
            const QJsonObject answer = QJsonDocument::fromJson(reply->peek(65536)).object();
            const QString error = answer.value(QStringLiteral("error")).toString();
            Finish({}, VisibleText(OneLine(
                           (error.isEmpty() ? reply->errorString() : error).toStdString())));
          });
}

OAuthSignIn::~OAuthSignIn() = default;

void OAuthSignIn::Start() { flow_->grant(); }

void OAuthSignIn::Finish(const std::string& refresh_token, const std::string& error) {
  if (finished_) return;
  finished_ = true;
  listener_->close();
  done_(refresh_token, error);
}

}  // namespace tovrel::app
