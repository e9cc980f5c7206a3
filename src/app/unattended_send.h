#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tovrel::net {
class SmtpClient;
}

namespace tovrel::app {

// The command line's send when there is no display: the arguments read as the compose window
// would read them, the main account as the sender, the message delivered, and nothing of the
// windows made. Every message box the window would show (the error report, the missing
// recipient) becomes one line on `boxes` instead. The settings file is read once for the run,
// unless the first start has to prepare it. Returns the process status: 0 when the message was
// sent, 75 when it was not for a reason that may pass, 1 when it was not for any other.
int RunUnattendedSend(const std::vector<std::string>& args, std::ostream& boxes);
// The same over `smtp`, set up as the caller wants it beyond the account (its limits).
int RunUnattendedSend(const std::vector<std::string>& args, std::ostream& boxes,
                      net::SmtpClient& smtp);

// "tovrelmail --send-outbox": sends what the outbox holds through the stored account, a line on
// `boxes` for each message that did not go out; returns the status SendOutbox gives.
int RunSendOutbox(std::ostream& boxes);

}  // namespace tovrel::app
