#pragma once

// The message text as the SMTP client puts it on the wire, written into a file instead: the same
// writer and settings, without the dot-stuffing that belongs to the wire alone.

#include <string>

#include "message/message.h"
#include "net/smtp_client.h"

namespace tovrel::app {

enum class LineEnds {
  leWire,  // CR LF, as sent: a stored message goes out again byte for byte
  leUnix,  // LF, as Maildir files have them
};

// Writes `message` as `smtp` (its locale, 8-bit setting and mail agent) would send it, its body
// file read from what `smtp` read of it (see MessageClient::body_file), so that a piped body is
// written whole. Raises FileError when its body file (not read so) or an attachment is no
// regular file (a pipe, read once by the send), or when the descriptor cannot be written.
void WriteMessageFile(const message::Message& message, const net::SmtpClient& smtp, int fd,
                      LineEnds line_ends);

}  // namespace tovrel::app
