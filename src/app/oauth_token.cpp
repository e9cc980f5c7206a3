#include "app/oauth_token.h"

#include <QProcess>

#include "app/service_calls.h"
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

}  // namespace

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
  std::string failure;
  const ServiceCalls* calls = Services(failure);
  if (calls == nullptr) throw TokenError(message::FormatText(texts::kNoServicesModule, {failure}));
  TokenReply reply = calls->request_token(token_url, form, limit);
  switch (reply.outcome) {
    case TokenReply::Outcome::kGranted:
      break;
    case TokenReply::Outcome::kSignInAgain:
      throw SignInRefused(reply.failure);
    case TokenReply::Outcome::kUnreachable:
      throw TokenUnreachable(reply.failure);
    case TokenReply::Outcome::kFailed:
      throw TokenError(reply.failure);
  }
  return {std::move(reply.access_token), std::move(reply.refresh_token)};
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
