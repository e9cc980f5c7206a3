#include "app/send_command.h"

#include <algorithm>

#include "app/app_errors.h"
#include "app/program_locale.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/input_file.h"
#include "message/message.h"
#include "message/string_helpers.h"
#include "net/net_errors.h"
#include "net/smtp_client.h"

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

// RFC 4954.
constexpr int kAuthenticationRequired = 530;

// The address as the From text holds it: what follows its last comma, as the store keeps a
// sender (the name ends in a comma). What the store holds is the user's typing: "None", a name,
// or an address with "<", ">" and parameters behind it would go to the server as they stand.
void CheckSenderAddress(std::string_view from_text) {
  std::string_view address = from_text.substr(from_text.rfind(',') + 1);
  while (!address.empty() && address.front() == ' ') address.remove_prefix(1);
  while (!address.empty() && address.back() == ' ') address.remove_suffix(1);
  const bool valid = address.find('@') != std::string_view::npos &&
                     std::none_of(address.begin(), address.end(), [](unsigned char c) {
                       return c <= ' ' || c == 0x7f || c == '<' || c == '>';
                     });
  if (!valid) {
    throw SendSetupError(message::FormatText(texts::kInvalidSender, {VisibleText(address)}));
  }
}

void SetUpClient(net::SmtpClient& smtp, const Account& account) {
  // Never stored or stored empty: handing that to the resolver would only
  // end in an error that does not say what is missing.
  if (account.smtp_server.empty()) throw SendSetupError(texts::kNoSmtpServer);
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
  if (!account.password.empty() || account.password_unavailable()) {
    smtp.set_password(account.password);
  }
  // Set on every send: a send after the store lost its security value goes out plain again.
  smtp.set_tls_mode(account.security);
  smtp.set_certificate_check(account.certificate_check);
}

void FillMessage(message::Message& message, const ComposeFields& fields) {
  const int from_items = static_cast<int>(CommaTextSplit(fields.from).size());
  message.from().set_address(GetFromPart(fields.from, from_items - 1));
  message.from().set_name(GetFromPart(fields.from, 0));
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

std::string GetFromPart(std::string_view from_text, int index) {
  const auto items = CommaTextSplit(from_text);
  const int count = static_cast<int>(items.size());
  if (index == 0 && count == 4) return items[0] + " " + items[1] + " " + items[2];
  if (index == 0 && count == 3) return items[0] + " " + items[1];
  if (index < 0 || index >= count) return {};
  return items[static_cast<std::size_t>(index)];
}

void DeliverMail(const ComposeFields& fields, const Account& account, net::SmtpClient& smtp) {
  SetUpClient(smtp, account);
  message::Message message;
  FillMessage(message, fields);
  // A server would take "MAIL FROM:<>" as a bounce and the message would have no From field.
  if (message.from().address().empty()) throw SendSetupError(texts::kNoSender);
  CheckSenderAddress(fields.from);
  // A device or a folder is refused before the server hears from us at all.
  for (const std::string& path : fields.attachments) message::CheckInputFile(path);
  try {
    smtp.Connect();
    smtp.Send(message);
    smtp.Disconnect();
  } catch (const net::ProtocolReplyError& error) {
    try {
      smtp.Disconnect();
    } catch (...) {  // the refusal is the one to report
    }
    // The server wants the login whose password could not be had here.
    if (error.reply_code() == kAuthenticationRequired && account.password_unavailable()) {
      throw SendSetupError(texts::kPasswordKeyringUnreachable);
    }
    throw;
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

}  // namespace tovrel::app
