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
#include "message/message_error.h"
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
  const int port = PortNumber(account.port);
  // An empty password keeps the one of an earlier send, but only for the server, port and login
  // it was given for: never does it go to a server or user changed in Settings since.
  const bool same_login = smtp.host() == account.smtp_server && smtp.port() == port &&
                          smtp.user_id() == account.user_name;
  smtp.set_host(account.smtp_server);
  smtp.set_port(port);
  if (account.oauth.enabled) {
    smtp.set_authentication_type(net::AuthenticationType::atOAuth2);
  } else if (!account.user_name.empty()) {
    smtp.set_user_id(account.user_name);
    smtp.set_authentication_type(net::AuthenticationType::atLogin);
  } else {
    smtp.set_authentication_type(net::AuthenticationType::atNone);
  }
  if (!account.password.empty() || account.password_unavailable() || !same_login) {
    smtp.set_password(account.password);
  }
  smtp.set_plain_password_allowed(account.plain_password_allowed);
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

// Each recipient in the form the server gets, or the send stops before the server is dialled:
// text that is not one mailbox ("not-an-address", "-f/etc/passwd", "a@b@example.org", a
// fullwidth "@", a broken A-label) would otherwise go out as a RCPT of its own.
void UseCheckedRecipients(message::EmailAddressList& list) {
  for (std::size_t i = 0; i < list.count(); ++i) {
    message::EmailAddress& recipient = list[i];
    std::string ascii;
    try {
      ascii = message::AsciiDomainAddress(recipient.address());
    } catch (const message::DomainConverterMissing&) {
      throw;
    } catch (const message::InvalidDomain&) {
      ascii.clear();
    }
    if (ascii.empty() || !message::IsValidMailbox(ascii)) {
      throw SendSetupError(
          message::FormatText(texts::kInvalidRecipient, {VisibleText(recipient.address())}));
    }
    recipient.set_address(std::move(ascii));
  }
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
    UseCheckedRecipients(*list);
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

// Ends the session; what goes wrong on the way out is no failure of a send that is over.
void QuietlyDisconnect(net::SmtpClient& smtp) {
  try {
    smtp.Disconnect();
  } catch (...) {  // closed all the same
  }
}

// Runs `send` on a connected client; a failure leaves the client disconnected, but for a refusal
// that leaves the dialogue in step when `keep_session` (the next message can follow on it).
template <typename SendStep>
void SendOnSession(net::SmtpClient& smtp, const Account& account, SendStep&& send,
                   bool keep_session) {
  try {
    send();
  } catch (const net::ProtocolReplyError& error) {
    // 421: the server is closing the session.
    if (!keep_session || error.reply_code() == 421) QuietlyDisconnect(smtp);
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
  } catch (const net::ServerCapabilityError&) {
    // Raised before anything of the message was written.
    if (!keep_session) QuietlyDisconnect(smtp);
    throw;
  } catch (...) {
    // A connection left open would make the next Connect fail, and after a failure half-way the
    // dialogue is out of step.
    QuietlyDisconnect(smtp);
    throw;
  }
}

// One connection for one message, `send` between Connect and Disconnect; a failure leaves the
// client disconnected.
template <typename SendStep>
void Transact(net::SmtpClient& smtp, const Account& account, SendStep&& send) {
  SendOnSession(
      smtp, account,
      [&] {
        smtp.Connect();
        send();
      },
      false);
  // The server has the message: a reset, a goodbye left unanswered or a cancel while it is
  // written changes nothing of that.
  QuietlyDisconnect(smtp);
}

// Names a list of addresses in one text.
std::string AddressList(const std::vector<std::string>& addresses) {
  std::string text;
  for (const std::string& address : addresses) text += (text.empty() ? "" : ", ") + address;
  return text;
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
  // What this send reads and delivers is its own, and is let go once it is over.
  smtp.ForgetDelivery();
  struct BodyRelease {
    net::SmtpClient& smtp;
    ~BodyRelease() { smtp.ForgetBodyFile(); }
  } release{smtp};
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
  if (outcome) message.set_use_now_for_date(false);
  try {
    // A token endpoint out of reach is a failure that may pass: the message is kept for it.
    UseAccessToken(smtp, account, message.from().address(), keep_refresh_token);
    Transact(smtp, account, [&] { smtp.Send(message); });
  } catch (const std::exception& error) {
    if (smtp.delivery().finished.empty()) {
      if (outcome) outcome(message, &error);
      throw;
    }
    const PartlySentError partly(smtp.delivery(), error);
    if (outcome) outcome(message, &partly);
    throw partly;
  }
  if (outcome) outcome(message, nullptr);
}

StoredDelivery::StoredDelivery(const Account& account, net::SmtpClient& smtp,
                               RefreshTokenKeeper keep_refresh_token)
    : account_(account), smtp_(smtp), keep_refresh_token_(std::move(keep_refresh_token)) {}

StoredDelivery::~StoredDelivery() { QuietlyDisconnect(smtp_); }

void StoredDelivery::Deliver(const net::SmtpClient::Envelope& envelope, const std::string& path) {
  smtp_.ForgetDelivery();
  if (set_up_failure_) std::rethrow_exception(set_up_failure_);
  if (!set_up_) {
    try {
      SetUpClient(smtp_, account_);
      UseAccessToken(smtp_, account_, envelope.sender, keep_refresh_token_);
    } catch (...) {
      set_up_failure_ = std::current_exception();
      throw;
    }
    set_up_ = true;
  }
  try {
    SendOnSession(
        smtp_, account_,
        [&] {
          if (!smtp_.SessionOpen()) smtp_.Connect();
          smtp_.SendRaw(envelope, path);
        },
        true);
  } catch (const std::exception& error) {
    if (smtp_.delivery().finished.empty()) throw;
    throw PartlySentError(smtp_.delivery(), error);
  }
}

PartlySentError::PartlySentError(const net::SmtpClient::Delivery& delivery,
                                 const std::exception& failure)
    : AppError(message::FormatText(
          texts::kPartlySent,
          {std::to_string(delivery.Served().size()), std::to_string(delivery.recipients.size()),
           AddressList(delivery.Served()), AddressList(delivery.Unserved()), failure.what()})),
      served_(delivery.Served()),
      unserved_(delivery.Unserved()),
      temporary_(IsTemporarySendFailure(failure)) {}

std::string UnservedRecipients(const std::string& field, const std::vector<std::string>& served) {
  message::EmailAddressList list;
  list.LoadFromText(field);
  std::string rest;
  for (std::size_t i = 0; i < list.count(); ++i) {
    const std::string address = message::AsciiDomainAddress(list[i].address());
    if (std::find(served.begin(), served.end(), address) != served.end()) continue;
    rest += (rest.empty() ? "" : ", ") + list[i].text();
  }
  return rest;
}

bool IsTemporarySendFailure(const std::exception& error) {
  if (const auto* partly = dynamic_cast<const PartlySentError*>(&error)) {
    return partly->temporary();
  }
  return net::IsTemporaryFailure(error) || dynamic_cast<const TokenUnreachable*>(&error) != nullptr;
}

int FailedSendStatus(const std::exception& error) {
  return IsTemporarySendFailure(error) ? kExitTryLater : kExitNotSent;
}

}  // namespace tovrel::app
