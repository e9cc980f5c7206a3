#include "app/error_report.h"

#include "app/message_box.h"
#include "app/send_command.h"
#include "app/texts.h"
#include "message/string_helpers.h"
#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "net/socket_stack.h"

namespace tovrel::app {

namespace {

void ShowReport(const std::string& text, QWidget* parent) {
  ShowMessageBox(parent, text, texts::kApplicationTitle, QMessageBox::Critical, QMessageBox::Ok,
                 QMessageBox::Ok);
}

std::string ReportText(const std::exception& error) {
  std::string text = ErrorReportText(error.what());
  // A greylisting server or a short outage reads like a refusal; the user should not go and
  // change settings that are right.
  if (IsTemporarySendFailure(error)) text.append("\n").append(texts::kTryAgainLater);
  return text;
}

}  // namespace

std::string SendFailureHint(const std::exception& error, const Account& account) {
  constexpr int kAuthenticationInvalid = 535;
  const auto hint = [&account](const char* text) {
    return message::FormatText(text, {account.smtp_server, account.port});
  };
  const bool silent_greeting = dynamic_cast<const net::ConnClosedGracefully*>(&error) != nullptr ||
                               dynamic_cast<const net::TlsExpected*>(&error) != nullptr;
  const auto* socket = dynamic_cast<const net::SocketError*>(&error);
  // A server of implicit TLS waits for a hand-shake and says nothing before it.
  if (account.port == std::to_string(net::SmtpClient::kImplicitTlsPort) &&
      account.security != net::TlsMode::tmImplicit &&
      (silent_greeting || (socket != nullptr && socket->error_number() == net::kErrorTimedOut))) {
    return hint(texts::kCheckSecurity);
  }
  if (socket != nullptr) {
    switch (socket->error_number()) {
      case net::kErrorConnectionRefused:
      case net::kErrorHostUnreachable:
      case net::kErrorHostNotFound:
      case net::kErrorNoData:
        return hint(texts::kCheckServerAndPort);
      default:
        return {};
    }
  }
  if (const auto* reply = dynamic_cast<const net::ProtocolReplyError*>(&error)) {
    return reply->reply_code() == kAuthenticationInvalid ? hint(texts::kCheckLogin) : "";
  }
  if (dynamic_cast<const net::TlsCertificateRefused*>(&error) != nullptr) {
    return hint(texts::kCheckCertificate);
  }
  return {};
}

std::string SendErrorText(const std::exception& error, const Account& account) {
  std::string text = ReportText(error);
  // The failure's own text stays first: it is the line a script reads on standard error.
  if (const std::string hint = SendFailureHint(error, account); !hint.empty()) {
    text.append("\n").append(VisibleText(hint));
  }
  return text;
}

void ReportSendError(const std::exception& error, const Account& account, QWidget* parent) {
  ShowReport(SendErrorText(error, account), parent);
}

void ReportError(const std::string& message, QWidget* parent) {
  ShowReport(ErrorReportText(message), parent);
}

void ReportError(const std::exception& error, QWidget* parent) {
  ShowReport(ReportText(error), parent);
}

}  // namespace tovrel::app
