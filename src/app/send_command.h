#pragma once

// The send command without its window: the fields of one message and the stored account become
// one message delivered through SMTP.

#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_errors.h"
#include "app/compose_fields.h"
#include "app/settings_layout.h"
#include "message/email_address.h"
#include "message/message.h"
#include "net/smtp_client.h"

namespace tovrel::app {

// The sender of a From text, laid out as the identities store it: name, comma, address. The
// address follows the last comma, so a name keeps its own commas and quotes as typed; both lose
// their surrounding blanks, and the name one pair of double quotes that encloses it whole. A
// text without a comma is an address alone.
message::EmailAddress SenderOf(std::string_view from_text);

// Builds the message of `fields` and delivers it over `smtp`, set up from `account`: Connect,
// Send, Disconnect. The caller keeps the client from one send to the next, so an empty stored
// password leaves the one of an earlier send in place while server, port and login name are
// those it was given for. Failures are raised; a missing server, a port that is not a number
// from 1 to 65535, an empty sender address and a To, CC or BCC address that is not one mailbox
// (SendSetupError "The recipient address ... is not valid") fail before any lookup or
// connection. After a failure the client is disconnected; a send its observer stopped
// (net::SendCancelled) is cut off without the "Quit". Once the server has taken the message,
// the send is done: nothing that befalls the "Quit" (a reset, a cancel) is a failure.
void DeliverMail(const ComposeFields& fields, const Account& account, net::SmtpClient& smtp);
// Told of the message as sent, or as it was to be sent, once the send is over: `failure` is null
// when the server accepted it. It must not raise.
using SendOutcome = std::function<void(message::Message& message, const std::exception* failure)>;
// An account that signs in with OAuth 2.0 gets its access token first (TokenError when there is
// none to be had); a refresh token the provider rotated goes to the keeper, and an empty one when
// the provider refused the saved sign-in, which is then to be forgotten.
using RefreshTokenKeeper = std::function<void(const std::string&)>;
// The same, telling `outcome`; the message's date is fixed before it is written, so that what
// `outcome` keeps of it carries the date the server got.
void DeliverMail(const ComposeFields& fields, const Account& account, net::SmtpClient& smtp,
                 const SendOutcome& outcome, const RefreshTokenKeeper& keep_refresh_token = {});
// Delivers messages kept as written (see SmtpClient::SendRaw) one after another over one
// session, as DeliverMail delivers one: the client set up and its access token had at the first
// message, a connection made then and again only once the server has closed it (each message
// begins with RSET), the goodbye when this ends.
class StoredDelivery {
 public:
  StoredDelivery(const Account& account, net::SmtpClient& smtp,
                 RefreshTokenKeeper keep_refresh_token = {});
  ~StoredDelivery();
  StoredDelivery(const StoredDelivery&) = delete;
  StoredDelivery& operator=(const StoredDelivery&) = delete;

  void Deliver(const net::SmtpClient::Envelope& envelope, const std::string& path);

 private:
  const Account& account_;
  net::SmtpClient& smtp_;
  RefreshTokenKeeper keep_refresh_token_;
  bool set_up_ = false;
  // Why the set-up failed, raised again for every message after: each would fail alike.
  std::exception_ptr set_up_failure_;
};

// A send of several transactions (a server that takes so many recipients at a time) that failed
// after the server had taken the message for some: who has it, who has not, and whether the
// failure may pass. DeliverMail and StoredDelivery raise it in place of the failure itself.
class PartlySentError : public AppError {
 public:
  PartlySentError(const net::SmtpClient::Delivery& delivery, const std::exception& failure);
  const std::vector<std::string>& served() const { return served_; }
  const std::vector<std::string>& unserved() const { return unserved_; }
  bool temporary() const { return temporary_; }

 private:
  std::vector<std::string> served_;
  std::vector<std::string> unserved_;
  bool temporary_;
};

// The recipients of a To, CC or BCC field text that are not among `served` (addresses as the
// envelope had them), as the field held them.
std::string UnservedRecipients(const std::string& field, const std::vector<std::string>& served);

// The process status of a send asked for on the command line: sent, not sent, or not sent for a
// reason that may pass (EX_TEMPFAIL of sysexits.h), so that a script knows to try again later.
inline constexpr int kExitSent = 0;
inline constexpr int kExitNotSent = 1;
inline constexpr int kExitTryLater = 75;
int FailedSendStatus(const std::exception& error);
// Whether a failed send may go through unchanged later: what net::IsTemporaryFailure says of
// the transport, a token endpoint out of reach, and a partial send stopped by such a failure.
bool IsTemporarySendFailure(const std::exception& error);

}  // namespace tovrel::app
