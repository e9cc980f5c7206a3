#pragma once

// The outbox: messages an unattended send could not deliver for a reason that may pass, kept as
// written (the text, its envelope) under $XDG_DATA_HOME/tovrelmail/outbox until a later run of
// "tovrelmail --send-outbox" delivers them. Each entry is NAME.msg, the text with CR LF line
// ends as it goes on the wire but for the dot-stuffing, and NAME.env, lines of "from ADDRESS",
// "to ADDRESS" (To and CC), "bcc ADDRESS", "attempts N", "reply TEXT" and, for an attempt that
// sent the whole text and heard no reply to its end, "unconfirmed N TEXT"; the names sort in the
// order the messages were kept. The envelope lists only the recipients still waiting: after a
// send the server took for some of them, the others. Messages the server refused for good go to
// outbox/failed.

#include <cstddef>
#include <ostream>
#include <string>

#include "app/send_command.h"
#include "app/settings_layout.h"
#include "message/message.h"
#include "net/smtp_client.h"

namespace tovrel::app {

// Keeps `message` as `smtp` writes it, with `reason` as its last reply, for the recipients the
// last send of `smtp` did not serve (see SmtpClient::delivery); its date is fixed now when it had
// none. Returns the entry's name. Raises FileError when it cannot be written, and then leaves no
// part of it.
std::string KeepInOutbox(message::Message& message, const net::SmtpClient& smtp,
                         const std::string& reason);

// Sends every entry in order through `smtp` set up from `account`, all over one session (see
// StoredDelivery), one line on `boxes` for each that did not go out, a copy of each sent one in
// Sent when `account` asks for it. An entry another run holds is left to it. Returns
// kExitTryLater when an entry this run found still waits, else kExitNotSent when one was
// refused for good, else kExitSent.
// A refresh token the provider rotated on the way goes to `keep_refresh_token`.
int SendOutbox(const Account& account, net::SmtpClient& smtp, std::ostream& boxes,
               const RefreshTokenKeeper& keep_refresh_token = {});

// The number of entries waiting in the outbox (not those in failed/); 0 when it cannot be read.
std::size_t KeptMessageCount();

}  // namespace tovrel::app
