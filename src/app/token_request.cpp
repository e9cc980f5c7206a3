// The token endpoint request through Qt's network module, one of the services of
// linked_services.h.
#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrlQuery>
#include <memory>
#include <optional>

#include "app/linked_services.h"
#include "app/oauth_token.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "app/token_answer.h"
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

TokenReply Failed(std::string failure) {
  TokenReply reply;
  reply.failure = std::move(failure);
  return reply;
}

// Why a request was cut short by this side.
enum class Cut { kNone, kTooSlow, kTooLarge };

// No answer came at all: nobody listened, the way was cut, or the endpoint hung up. Nothing was
// refused, so a later try may get through.
bool AnswerNeverCame(QNetworkReply::NetworkError error) {
  switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
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

void StartTokenRequest(QObject* context, const std::string& token_url,
                       const std::multimap<std::string, std::string>& form,
                       std::chrono::milliseconds limit, std::function<void(TokenReply)> done) {
  const QUrl url(QString::fromStdString(token_url));
  const std::string host = VisibleText(url.host().toStdString());
  // Refused before anything is sent: the form carries the refresh token or the code and its
  // verifier.
  if (url.scheme() != QLatin1String("https") || url.host().isEmpty()) {
    done(Failed(message::FormatText(texts::kTokenUrlNotHttps, {VisibleText(token_url)})));
    return;
  }
  QUrlQuery query;
  for (const auto& [name, value] : form) {
    query.addQueryItem(QString::fromStdString(name), QString::fromStdString(value));
  }
  QNetworkRequest request(url);
  request.setHeader(QNetworkRequest::ContentTypeHeader,
                    QStringLiteral("application/x-www-form-urlencoded"));
  request.setSslConfiguration(TlsConfiguration());
  // A redirect would post the same form again, to wherever the answer points.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
  auto* manager = new QNetworkAccessManager(context);
  QNetworkReply* reply = manager->post(request, query.query(QUrl::FullyEncoded).toUtf8());
  auto cut = std::make_shared<Cut>(Cut::kNone);
  // The transfer's own time-out starts again with every byte; this one holds for the whole.
  auto* timer = new QTimer(reply);
  timer->setSingleShot(true);
  QObject::connect(timer, &QTimer::timeout, reply, [reply, cut] {
    *cut = Cut::kTooSlow;
    reply->abort();
  });
  timer->start(limit);
  QObject::connect(
      reply, &QNetworkReply::downloadProgress, reply, [reply, cut](qint64 received, qint64 total) {
        if (*cut == Cut::kNone && (received > kTokenAnswerLimit || total > kTokenAnswerLimit)) {
          *cut = Cut::kTooLarge;
          reply->abort();
        }
      });
  QObject::connect(
      reply, &QNetworkReply::finished, manager,
      [manager, reply, cut, host, limit, done = std::move(done)] {
        manager->deleteLater();
        auto fail = [&host](const std::string& reason) {
          return Failed(message::FormatText(texts::kTokenRequestFailed, {host, reason}));
        };
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (*cut == Cut::kTooSlow) {
          TokenReply silent = fail(message::FormatText(
              texts::kTokenAnswerTooSlow, {std::to_string((limit.count() + 999) / 1000)}));
          silent.outcome = TokenReply::Outcome::kUnreachable;
          done(std::move(silent));
        } else if (*cut == Cut::kTooLarge) {
          done(fail(texts::kTokenAnswerTooLarge));
        } else if (status >= 300 && status < 400) {
          const std::string target = reply->rawHeader("Location").toStdString();
          done(fail(message::FormatText(texts::kTokenRedirected, {VisibleText(OneLine(target))})));
        } else {
          const QByteArray body = reply->read(kTokenAnswerLimit);
          const std::string transfer_failure = reply->error() == QNetworkReply::NoError
                                                   ? std::string()
                                                   : reply->errorString().toStdString();
          TokenReply answer = ReadTokenAnswer(body.toStdString(), host, transfer_failure);
          if (answer.outcome == TokenReply::Outcome::kFailed && AnswerNeverCame(reply->error())) {
            answer.outcome = TokenReply::Outcome::kUnreachable;
          }
          done(std::move(answer));
        }
      });
}

TokenReply PostTokenRequest(const std::string& token_url,
                            const std::multimap<std::string, std::string>& form,
                            std::chrono::milliseconds limit) {
  std::optional<QCoreApplication> application;
  MakeApplicationForLoop(application);
  std::optional<TokenReply> result;
  QEventLoop loop;
  QObject context;
  StartTokenRequest(&context, token_url, form, limit, [&](TokenReply reply) {
    result = std::move(reply);
    loop.quit();
  });
  if (!result) loop.exec();
  return std::move(*result);
}

}  // namespace tovrel::app
