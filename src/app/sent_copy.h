#pragma once

// The copy of every sent message in the Maildir $XDG_DATA_HOME/tovrelmail/Sent: the text as
// written, with a Bcc field naming the blind copies, in cur/ flagged as seen, with LF line ends
// as Maildir readers expect.

#include <functional>
#include <string>
#include <vector>

#include "message/message.h"
#include "net/smtp_client.h"

namespace tovrel::app {

// Writes the copy; `write_text` writes the message text (LF line ends) to the descriptor it is
// handed. Raises FileError when the copy cannot be written.
void StoreSentCopy(const std::vector<std::string>& blind_copies,
                   const std::function<void(int fd)>& write_text);

// The copy of `message` as `smtp` sent it, its blind copies named. Raises FileError, worded as a
// copy that could not be kept, when it cannot be written.
void StoreSentCopyOf(const message::Message& message, const net::SmtpClient& smtp);

// The Maildir file name of a new message as read: time.pid_random.host:2,S.
std::string MaildirName();

}  // namespace tovrel::app
