#include "app/oauth_token.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrlQuery>
#include <memory>
#include <optional>

#include "app/text_rules.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

std::string FirstLine(const QByteArray& bytes) {
  const qsizetype end = bytes.indexOf('\n');
  std::string line = bytes.left(end < 0 ? bytes.size() : end).toStdString();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

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

}  // namespace

void TrustCertificateFileOfEnvironment() {
  QSslConfiguration::setDefaultConfiguration(TlsConfiguration());
}

OAuthEndpoints OAuthSettings::endpoints() const {
  if (provider == kProviderGoogle) {
    return {"https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token",
            "https://mail.google.com/"};
  }
  if (provider == kProviderMicrosoft) {
    return {"https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
            "https://login.microsoftonline.com/common/oauth2/v2.0/token",
            "https://outlook.office.com/SMTP.Send offline_access"};
  }
  return custom;
}

std::string RunTokenCommand(const std::string& command, std::chrono::milliseconds limit) {
  QProcess process;
  process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromStdString(command)});
  const std::string shown = VisibleText(command);
  if (!process.waitForStarted()) {
    throw TokenError(message::FormatText(texts::kTokenCommandNotStarted, {shown}));
  }
  process.closeWriteChannel();
  if (!process.waitForFinished(static_cast<int>(limit.count()))) {
    process.kill();
    process.waitForFinished();
    throw TokenError(message::FormatText(texts::kTokenCommandTimedOut,
                                         {std::to_string((limit.count() + 999) / 1000),
                                          VisibleText(FirstLine(process.readAllStandardError()))}));
  }
  const std::string status = process.exitStatus() == QProcess::NormalExit
                                 ? std::to_string(process.exitCode())
                                 : texts::kTokenCommandKilled;
  const std::string token = FirstLine(process.readAllStandardOutput());
  const std::string error = VisibleText(FirstLine(process.readAllStandardError()));
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    throw TokenError(message::FormatText(texts::kTokenCommandFailed, {status, error}));
  }
  if (token.empty())
    throw TokenError(message::FormatText(texts::kTokenCommandSilent, {status, error}));
  return token;
}

TokenGrant RequestToken(const std::string& token_url,
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
  if (error == "invalid_grant") throw SignInRefused(texts::kSignInAgain);
  if (!error.empty()) {
    const std::string description =
        answer.value(QStringLiteral("error_description")).toString().toStdString();
    throw TokenError(message::FormatText(
        texts::kTokenRefused,
        {VisibleText(OneLine(error + (description.empty() ? "" : ": ") + description))}));
  }
  TokenGrant grant{answer.value(QStringLiteral("access_token")).toString().toStdString(),
                   answer.value(QStringLiteral("refresh_token")).toString().toStdString()};
  if (reply->error() != QNetworkReply::NoError || grant.access_token.empty()) {
    throw TokenError(
        message::FormatText(texts::kTokenRequestFailed,
                            {VisibleText(url.host().toStdString()),
                             VisibleText(OneLine(reply->error() != QNetworkReply::NoError
                                                     ? reply->errorString().toStdString()
                                                     : std::string(texts::kTokenMissing)))}));
  }
  return grant;
}

TokenGrant ObtainAccessToken(const OAuthSettings& settings, const std::string& refresh_token) {
  if (!settings.token_command.empty()) return {RunTokenCommand(settings.token_command), {}};
  if (refresh_token.empty()) throw TokenError(texts::kNotSignedIn);
  std::multimap<std::string, std::string> form = {{"grant_type", "refresh_token"},
                                                  {"refresh_token", refresh_token},
                                                  {"client_id", settings.client_id}};
  if (!settings.client_secret.empty()) form.emplace("client_secret", settings.client_secret);
  return RequestToken(settings.endpoints().token_url, form);
}

}  // namespace tovrel::app
