// The token endpoint request through Qt's network module, one of the services of
// linked_services.h.
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QUrlQuery>
#include <memory>
#include <optional>

#include "app/linked_services.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

// The token request needs an event loop; a send without a window has no application object
// until this makes one for the time of the request.
void MakeApplicationForLoop(std::optional<QCoreApplication>& application) {
  static int argc = 1;
  static char name[] = "tovrelmail";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) application.emplace(argc, argv);
}

// OpenSSL's programs trust the CA file of SSL_CERT_FILE; Qt reads the system folders only.
QSslConfiguration TlsConfiguration() {
  QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
  if (const QByteArray file = qgetenv("SSL_CERT_FILE"); !file.isEmpty()) {
    configuration.addCaCertificates(QString::fromLocal8Bit(file));
  }
  return configuration;
}

// No answer came at all: nobody listened, the way was cut, or the endpoint kept silent past the
// limit. Nothing was refused, so a later try may get through.
bool AnswerNeverCame(QNetworkReply::NetworkError error) {
  switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:  // the transfer limit ran out
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
      return true;
    default:
      return false;
  }
}

}  // namespace

void TrustCertificateFileOfEnvironment() {
  QSslConfiguration::setDefaultConfiguration(TlsConfiguration());
}

TokenReply PostTokenRequest(const std::string& token_url,
                            const std::multimap<std::string, std::string>& form,
                            std::chrono::milliseconds limit) {
  std::optional<QCoreApplication> application;
  MakeApplicationForLoop(application);
  QUrlQuery query;
  for (const auto& [name, value] : form) {
    query.addQueryItem(QString::fromStdString(name), QString::fromStdString(value));
  }
  const QUrl url(QString::fromStdString(token_url));
  QNetworkRequest request(url);
  request.setHeader(QNetworkRequest::ContentTypeHeader,
                    QStringLiteral("application/x-www-form-urlencoded"));
  request.setSslConfiguration(TlsConfiguration());
  request.setTransferTimeout(static_cast<int>(limit.count()));
  QNetworkAccessManager manager;
  std::unique_ptr<QNetworkReply> reply(
      manager.post(request, query.query(QUrl::FullyEncoded).toUtf8()));
  QEventLoop loop;
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  loop.exec();
  const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
  const std::string error = answer.value(QStringLiteral("error")).toString().toStdString();
  TokenReply result;
  if (error == "invalid_grant") {
    result.outcome = TokenReply::Outcome::kSignInAgain;
    result.failure = texts::kSignInAgain;
    return result;
  }
  if (!error.empty()) {
    const std::string description =
        answer.value(QStringLiteral("error_description")).toString().toStdString();
    result.failure = message::FormatText(
        texts::kTokenRefused,
        {VisibleText(OneLine(error + (description.empty() ? "" : ": ") + description))});
    return result;
  }
  result.access_token = answer.value(QStringLiteral("access_token")).toString().toStdString();
  result.refresh_token = answer.value(QStringLiteral("refresh_token")).toString().toStdString();
  if (reply->error() != QNetworkReply::NoError || result.access_token.empty()) {
    if (AnswerNeverCame(reply->error())) result.outcome = TokenReply::Outcome::kUnreachable;
    result.failure =
        message::FormatText(texts::kTokenRequestFailed,
                            {VisibleText(url.host().toStdString()),
                             VisibleText(OneLine(reply->error() != QNetworkReply::NoError
                                                     ? reply->errorString().toStdString()
                                                     : std::string(texts::kTokenMissing)))});
    return result;
  }
  result.outcome = TokenReply::Outcome::kGranted;
  return result;
}

}  // namespace tovrel::app
