#pragma once

// The send command without its window: the fields of one message and the stored account become
// one message delivered through SMTP.

#include <string>
#include <string_view>

#include "app/compose_fields.h"
#include "app/settings_layout.h"

namespace tovrel::net {
class SmtpClient;
}

namespace tovrel::app {

// The sender name (index 0) or one item of the comma-text split of a From text. A name of two or
// three words is joined again; the address is always the last item. Empty past the items.
std::string GetFromPart(std::string_view from_text, int index);

// Builds the message of `fields` and delivers it over `smtp`, set up from `account`: Connect,
// Send, Disconnect. The caller keeps the client from one send to the next, so an empty stored
// login name or password leaves the one of an earlier send in place. Failures are raised; a
// missing server, a port that is not a number from 1 to 65535 and an empty sender address fail
// before any lookup or connection. After a failure the client is disconnected; a send cancelled
// with SendCancelled is cut off without the "Quit".
void DeliverMail(const ComposeFields& fields, const Account& account, net::SmtpClient& smtp);

}  // namespace tovrel::app
