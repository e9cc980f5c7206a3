#pragma once

// The send command without its window: the fields of one message and the stored account become
// one message delivered through SMTP.

#include <exception>
#include <functional>
#include <string>
#include <string_view>

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
// login name or password leaves the one of an earlier send in place. Failures are raised; a
// missing server, a port that is not a number from 1 to 65535 and an empty sender address fail
// before any lookup or connection. After a failure the client is disconnected; a send its observer
// stopped (net::SendCancelled) is cut off without the "Quit".
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
// Delivers a message kept as written (see SmtpClient::SendRaw) as DeliverMail does.
void DeliverStored(const net::SmtpClient::Envelope& envelope, const std::string& path,
                   const Account& account, net::SmtpClient& smtp,
                   const RefreshTokenKeeper& keep_refresh_token = {});

// The process status of a send asked for on the command line: sent, not sent, or not sent for a
// reason that may pass (EX_TEMPFAIL of sysexits.h), so that a script knows to try again later.
inline constexpr int kExitSent = 0;
inline constexpr int kExitNotSent = 1;
inline constexpr int kExitTryLater = 75;
int FailedSendStatus(const std::exception& error);

}  // namespace tovrel::app
