#include "app/send_command.h"

#include "app/app_errors.h"
#include "app/program_locale.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/input_file.h"
#include "message/message.h"
#include "message/string_helpers.h"
#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "store/texts.h"

namespace tovrel::app {

namespace {

constexpr int kHighestPort = 65535;

// A port number the system can dial; any other text fails as a text that is no integer does.
int PortNumber(const std::string& text) {
  const int port = StrToInt(text);
  if (port < 1 || port > kHighestPort) {
    throw ConversionError(message::FormatText(texts::kNotAnInteger, {text}));
  }
  return port;
}

void SetUpClient(net::SmtpClient& smtp, const Account& account) {
  // Never stored (the store's "None") or stored empty: handing that to the resolver would only
  // end in an error that does not say what is missing.
  if (account.smtp_server.empty() || account.smtp_server == store::texts::kMissingValue) {
    throw SendSetupError(texts::kNoSmtpServer);
  }
  // Header and body character sets follow the text the fields hold.
  smtp.set_locale(ProgramLocale());
  smtp.set_host(account.smtp_server);
  smtp.set_port(PortNumber(account.port));
  if (!account.user_name.empty()) {
    smtp.set_user_id(account.user_name);
    smtp.set_authentication_type(net::AuthenticationType::atLogin);
  } else {
    smtp.set_authentication_type(net::AuthenticationType::atNone);
  }
  if (!account.password.empty()) smtp.set_password(account.password);
  // Set on every send: a send after the store lost its security value goes out plain again.
  smtp.set_tls_mode(account.security);
  smtp.set_certificate_check(account.certificate_check);
}

std::string_view WithoutBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

void FillMessage(message::Message& message, const ComposeFields& fields) {
  message.from() = SenderOf(fields.from);
  message.recipients().LoadFromText(fields.to);
  if (!fields.cc.empty()) message.cc_list().LoadFromText(fields.cc);
  if (!fields.bcc.empty()) message.bcc_list().LoadFromText(fields.bcc);
  if (fields.body_file.empty()) {
    message.set_body(fields.body);
  } else {
    message.set_body_file(fields.body_file);
  }
  message.set_subject(fields.subject);
  for (const std::string& path : fields.attachments) message.parts().AddAttachment(path);
}

}  // namespace

message::EmailAddress SenderOf(std::string_view from_text) {
  const std::size_t comma = from_text.rfind(',');
  if (comma == std::string_view::npos) return {std::string(WithoutBlanks(from_text)), {}};
  std::string_view name = WithoutBlanks(from_text.substr(0, comma));
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    name = name.substr(1, name.size() - 2);
  }
  return {std::string(WithoutBlanks(from_text.substr(comma + 1))), std::string(name)};
}

void DeliverMail(const ComposeFields& fields, const Account& account, net::SmtpClient& smtp) {
  SetUpClient(smtp, account);
  message::Message message;
  FillMessage(message, fields);
  // A server would take "MAIL FROM:<>" as a bounce and the message would have no From field.
  if (message.from().address().empty()) throw SendSetupError(texts::kNoSender);
  // A device or a folder is refused before the server hears from us at all.
  for (const std::string& path : fields.attachments) message::CheckInputFile(path);
  try {
    smtp.Connect();
    smtp.Send(message);
    smtp.Disconnect();
  } catch (const SendCancelled&) {
    // Cut off where it stands, without the "Quit" of a disconnect: in the middle of the message
    // it would be text, and a server that reads slowly (the reason to cancel) would keep it
    // waiting to be written.
    smtp.CloseConnection();
    smtp.Disconnect();
    throw;
  } catch (...) {
    // A connection left open would make the next Connect fail.
    try {
      smtp.Disconnect();
    } catch (...) {  // the failure that brought us here is the one to report
    }
    throw;
  }
}

int FailedSendStatus(const std::exception& error) {
  return net::IsTemporaryFailure(error) ? kExitTryLater : kExitNotSent;
}

}  // namespace tovrel::app
