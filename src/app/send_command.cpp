#include "app/send_command.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/app_errors.h"
#include "app/attachment_types.h"
#include "app/oauth_token.h"
#include "app/program_locale.h"
#include "app/spool_files.h"
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
  if (account.oauth.enabled) {
    smtp.set_authentication_type(net::AuthenticationType::atOAuth2);
  } else if (!account.user_name.empty()) {
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
  // OpenSSL sets itself up while the message is made ready and the server dialled.
  smtp.PrepareTls();
}

// Unique across processes and machines without any state of ours: the time in microseconds,
// the process and 64 bits from the system's generator (RFC 5322 section 3.6.4).
std::string NewMessageId(std::string_view sender_address) {
  const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  char left[64];
  std::snprintf(left, sizeof left, "%llx.%lx.",
                static_cast<unsigned long long>(microseconds.count()),
                static_cast<long>(::getpid()));
  char random[24];
  std::snprintf(random, sizeof random, "%016llx", static_cast<unsigned long long>(RandomBits()));
  std::string id = std::string("<") + left + random;
  const std::size_t at = sender_address.rfind('@');
  const std::string_view domain =
      at == std::string_view::npos ? std::string_view() : sender_address.substr(at + 1);
  id.append("@").append(domain.empty() ? "localhost" : domain).append(">");
  return id;
}

void UseAsciiDomain(message::EmailAddress& address) {
  address.set_address(message::AsciiDomainAddress(address.address()));
}

void UseAsciiDomains(message::EmailAddressList& list) {
  for (std::size_t i = 0; i < list.count(); ++i) UseAsciiDomain(list[i]);
}

// `looks` holds what was found at each attachment's path.
void FillMessage(message::Message& message, const ComposeFields& fields,
                 const std::vector<message::PathLook>& looks) {
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
  AttachmentTypes types;
  for (std::size_t i = 0; i < fields.attachments.size(); ++i) {
    const std::string& path = fields.attachments[i];
    message::Attachment& attachment = message.parts().AddAttachment(path);
    attachment.set_content_type(types.TypeOf(path, looks[i].regular));
    attachment.set_look(looks[i]);
  }
  // Servers refuse raw UTF-8 in the envelope; the header fields carry the same form.
  UseAsciiDomain(message.from());
  for (auto* list : {&message.recipients(), &message.cc_list(), &message.bcc_list()}) {
    UseAsciiDomains(*list);
  }
  message.extra_headers().SetHeader("Message-ID", fields.message_id.empty()
                                                      ? NewMessageId(message.from().address())
                                                      : fields.message_id);
}

// An account that signs in with OAuth 2.0 gets its access token before the connection; the
// provider knows the account by its address when no login name was stored.
void UseAccessToken(net::SmtpClient& smtp, const Account& account, const std::string& sender,
                    const RefreshTokenKeeper& keep_refresh_token) {
  if (!account.oauth.enabled) return;
  smtp.set_user_id(account.user_name.empty() ? sender : account.user_name);
  TokenGrant grant;
  try {
    grant = ObtainAccessToken(account.oauth, account.refresh_token);
  } catch (const SignInRefused&) {
    // Kept, it would go on looking like a sign-in that works.
    if (keep_refresh_token && !account.refresh_token.empty()) keep_refresh_token({});
    throw;
  }
  smtp.set_access_token(grant.access_token);
  if (!grant.refresh_token.empty() && grant.refresh_token != account.refresh_token &&
      keep_refresh_token) {
    keep_refresh_token(grant.refresh_token);
  }
}

// One connection for one message, `send` between Connect and Disconnect; a failure leaves the
// client disconnected.
template <typename SendStep>
void Transact(net::SmtpClient& smtp, const Account& account, SendStep&& send) {
  try {
    smtp.Connect();
    send();
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
  } catch (const net::SendCancelled&) {
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

}  // namespace

message::EmailAddress SenderOf(std::string_view from_text) {
  using message::TrimControl;
  const std::size_t comma = from_text.rfind(',');
  if (comma == std::string_view::npos) return {std::string(TrimControl(from_text)), {}};
  std::string_view name = TrimControl(from_text.substr(0, comma));
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    name = name.substr(1, name.size() - 2);
  }
  return {std::string(TrimControl(from_text.substr(comma + 1))), std::string(name)};
}

void DeliverMail(const ComposeFields& fields, const Account& account, net::SmtpClient& smtp) {
  DeliverMail(fields, account, smtp, nullptr);
}

void DeliverMail(const ComposeFields& fields, const Account& account, net::SmtpClient& smtp,
                 const SendOutcome& outcome, const RefreshTokenKeeper& keep_refresh_token) {
  SetUpClient(smtp, account);
  // One look at each file serves its type and its check.
  std::vector<message::PathLook> looks;
  looks.reserve(fields.attachments.size());
  for (const std::string& path : fields.attachments) looks.push_back(message::LookAtPath(path));
  message::Message message;
  FillMessage(message, fields, looks);
  // A server would take "MAIL FROM:<>" as a bounce and the message would have no From field.
  if (message.from().address().empty()) throw SendSetupError(texts::kNoSender);
  CheckSenderAddress(fields.from);
  // A device or a folder is refused before the server hears from us at all.
  for (std::size_t i = 0; i < looks.size(); ++i) {
    message::CheckInputFile(fields.attachments[i], looks[i]);
  }
  UseAccessToken(smtp, account, message.from().address(), keep_refresh_token);
  if (outcome) message.set_use_now_for_date(false);
  try {
    Transact(smtp, account, [&] { smtp.Send(message); });
  } catch (const std::exception& error) {
    if (outcome) outcome(message, &error);
    throw;
  }
  if (outcome) outcome(message, nullptr);
}

void DeliverStored(const net::SmtpClient::Envelope& envelope, const std::string& path,
                   const Account& account, net::SmtpClient& smtp,
                   const RefreshTokenKeeper& keep_refresh_token) {
  SetUpClient(smtp, account);
  UseAccessToken(smtp, account, envelope.sender, keep_refresh_token);
  Transact(smtp, account, [&] { smtp.SendRaw(envelope, path); });
}

int FailedSendStatus(const std::exception& error) {
  return net::IsTemporaryFailure(error) ? kExitTryLater : kExitNotSent;
}

}  // namespace tovrel::app
