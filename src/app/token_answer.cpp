#include "app/token_answer.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/text_rules.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

TokenReply ReadTokenAnswer(std::string_view body, std::string_view host,
                           std::string_view transfer_failure) {
  const QJsonObject answer =
      QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())))
          .object();
  auto text = [&answer](const char* key) {
    return answer.value(QLatin1String(key)).toString().toStdString();
  };
  const std::string error = text("error");
  TokenReply result;
  if (error == "invalid_grant") {
    result.outcome = TokenReply::Outcome::kSignInAgain;
    result.failure = texts::kSignInAgain;
    return result;
  }
  if (!error.empty()) {
    const std::string description = text("error_description");
    result.failure = message::FormatText(
        texts::kTokenRefused,
        {VisibleText(OneLine(error + (description.empty() ? "" : ": ") + description))});
    return result;
  }
  const std::string access_token = text("access_token");
  if (!transfer_failure.empty() || access_token.empty()) {
    result.failure = message::FormatText(
        texts::kTokenRequestFailed,
        {VisibleText(host), transfer_failure.empty()
                                ? std::string(texts::kTokenMissing)
                                : VisibleText(OneLine(std::string(transfer_failure)))});
    return result;
  }
  result.access_token = access_token;
  result.refresh_token = text("refresh_token");
  result.outcome = TokenReply::Outcome::kGranted;
  return result;
}

}  // namespace tovrel::app
