#include "app/oauth_sign_in.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <optional>

#include "app/linked_services.h"
#include "app/oauth_token.h"
#include "app/sign_in_callback.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

std::string RandomText(int octets) {
  QByteArray random(octets, '\0');
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(random.data()),
                                        random.size() / 4);
  return random.toBase64(kBase64Url).toStdString();
}

QString Challenge(const std::string& verifier) {
  return QString::fromLatin1(
      QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256)
          .toBase64(kBase64Url));
}

bool IsHttps(const QUrl& url) {
  return url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}

// Plain text, so that nothing of the request can become markup on the page.
void Answer(QTcpSocket* connection, const char* status, const std::string& page) {
  connection->write(QByteArray("HTTP/1.1 ") + status +
                    "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                    QByteArray::number(static_cast<qsizetype>(page.size())) +
                    "\r\nConnection: close\r\n\r\n" + QByteArray::fromStdString(page));
  connection->disconnectFromHost();
}

}  // namespace

OAuthSignIn::OAuthSignIn(const OAuthSettings& settings, Done done, QObject* parent)
    : QObject(parent),
      settings_(settings),
      listener_(new QTcpServer(this)),
      whole_(new QTimer(this)),
      opener_([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      done_(std::move(done)),
      // RFC 7636 section 4.1: 32 random octets give the 43 characters of a verifier.
      verifier_(RandomText(32)),
      state_(RandomText(16)) {
  whole_->setSingleShot(true);
  connect(whole_, &QTimer::timeout, this, [this] { Finish({}, texts::kSignInTooLong); });
  connect(listener_, &QTcpServer::newConnection, this, &OAuthSignIn::Accept);
}

OAuthSignIn::~OAuthSignIn() = default;

quint16 OAuthSignIn::port() const { return listener_->serverPort(); }

void OAuthSignIn::Start() {
  const OAuthEndpoints endpoints = settings_.endpoints();
  const QUrl authorization(QString::fromStdString(endpoints.auth_url));
  if (!IsHttps(authorization)) {
    Finish({}, message::FormatText(texts::kAuthUrlNotHttps, {VisibleText(endpoints.auth_url)}));
    return;
  }
  if (!IsHttps(QUrl(QString::fromStdString(endpoints.token_url)))) {
    Finish({}, message::FormatText(texts::kTokenUrlNotHttps, {VisibleText(endpoints.token_url)}));
    return;
  }
  if (!listener_->listen(QHostAddress(QHostAddress::LocalHost), 0)) {
    Finish({}, VisibleText(OneLine(listener_->errorString().toStdString())));
    return;
  }
  redirect_uri_ = "http://127.0.0.1:" + std::to_string(port()) + "/";
  QUrl url = authorization;
  QUrlQuery query(url);
  for (const auto& [name, value] : std::initializer_list<std::pair<const char*, QString>>{
           {"response_type", QStringLiteral("code")},
           {"client_id", QString::fromStdString(settings_.client_id)},
           {"redirect_uri", QString::fromStdString(redirect_uri_)},
           {"scope", QString::fromStdString(endpoints.scope)},
           {"state", QString::fromStdString(state_)},
           {"code_challenge", Challenge(verifier_)},
           {"code_challenge_method", QStringLiteral("S256")},
           // Google hands out a refresh token only when asked for offline access.
           {"access_type", QStringLiteral("offline")}}) {
    query.addQueryItem(QString::fromLatin1(name),
                       QString::fromLatin1(QUrl::toPercentEncoding(value)));
  }
  url.setQuery(query);
  whole_->start(time_limit_);
  opener_(url);
}

void OAuthSignIn::Accept() {
  while (QTcpSocket* connection = listener_->nextPendingConnection()) {
    if (++connections_ >= kCallbackConnections) listener_->pauseAccepting();
    connect(connection, &QObject::destroyed, this, [this] {
      if (connections_-- == kCallbackConnections && !finished_) listener_->resumeAccepting();
    });
    // Qt stops reading from the system once the request could no longer fit.
    connection->setReadBufferSize(static_cast<qint64>(kCallbackRequestLimit));
    connect(connection, &QTcpSocket::disconnected, connection, &QObject::deleteLater);
    connect(connection, &QTcpSocket::readyRead, this, [this, connection] { Read(connection); });
    QTimer::singleShot(kCallbackConnectionLimit, connection, [connection] {
      connection->abort();
      connection->deleteLater();
    });
  }
}

void OAuthSignIn::Read(QTcpSocket* connection) {
  if (connection->state() != QAbstractSocket::ConnectedState) return;
  const QByteArray bytes = connection->peek(static_cast<qint64>(kCallbackRequestLimit));
  const CallbackRequest request =
      ReadCallbackRequest(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  switch (request.status) {
    case CallbackRequest::Status::kIncomplete:
      return;
    case CallbackRequest::Status::kTooLarge:
      Answer(connection, "431 Request Header Fields Too Large", texts::kSignInBrowserIgnored);
      return;
    case CallbackRequest::Status::kMalformed:
      Answer(connection, "400 Bad Request", texts::kSignInBrowserIgnored);
      return;
    case CallbackRequest::Status::kComplete:
      break;
  }
  connection->readAll();
  const std::optional<std::string> page = TakeCallback(request);
  Answer(connection, page ? "200 OK" : "400 Bad Request",
         page ? *page : std::string(texts::kSignInBrowserIgnored));
}

std::optional<std::string> OAuthSignIn::TakeCallback(const CallbackRequest& request) {
  // Another page of the browser, or another program on this machine, may ask too: only a
  // request to this listener by its own name, carrying the state this sign-in sent, counts.
  const auto state = request.query.find("state");
  if (answered_ || finished_ || request.method != "GET" || request.path != "/" ||
      request.host != "127.0.0.1:" + std::to_string(port()) || state == request.query.end() ||
      state->second != state_) {
    return std::nullopt;
  }
  const auto error = request.query.find("error");
  const auto code = request.query.find("code");
  if (error == request.query.end() && (code == request.query.end() || code->second.empty())) {
    return std::nullopt;
  }
  answered_ = true;
  if (error != request.query.end()) {
    const auto description = request.query.find("error_description");
    std::string shown = error->second;
    if (description != request.query.end()) shown += " " + description->second;
    shown = VisibleText(OneLine(shown));
    Finish({}, shown);
    return message::FormatText(texts::kSignInFailed, {shown});
  }
  Exchange(code->second);
  return std::string(texts::kSignInBrowserDone);
}

void OAuthSignIn::Exchange(const std::string& code) {
  std::multimap<std::string, std::string> form = {{"grant_type", "authorization_code"},
                                                  {"code", code},
                                                  {"redirect_uri", redirect_uri_},
                                                  {"client_id", settings_.client_id},
                                                  {"code_verifier", verifier_}};
  if (!settings_.client_secret.empty()) form.emplace("client_secret", settings_.client_secret);
  StartTokenRequest(this, settings_.endpoints().token_url, form, kTokenRequestLimit,
                    [this](const TokenReply& reply) {
                      if (reply.outcome != TokenReply::Outcome::kGranted) {
                        Finish({}, reply.failure);
                      } else if (reply.refresh_token.empty()) {
                        Finish({}, texts::kNoRefreshToken);
                      } else {
                        Finish(reply.refresh_token, {});
                      }
                    });
}

void OAuthSignIn::Finish(const std::string& refresh_token, const std::string& error) {
  if (finished_) return;
  finished_ = true;
  whole_->stop();
  listener_->close();
  done_(refresh_token, error);
}

}  // namespace tovrel::app
