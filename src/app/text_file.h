#pragma once

#include <string>
#include <vector>

#include "net/smtp_client.h"

namespace tovrel::app {

// Whether `path` names a text file that can be read: raises FileError "Cannot open file "%s":
// <reason>" when it cannot be found, and FileError with the message layer's text when it is
// neither a regular file nor a pipe.
void CheckTextFile(const std::string& path);

// The lines of a text file as UTF-8, by the rules of message::BodyFile: a file that is valid
// UTF-8 is taken as such (a byte-order mark at its start dropped), any other as ISO-8859-1. Lines
// end at LF, CR LF or CR; a line break at the very end adds no empty line. Raises FileError as
// CheckTextFile does, and with the message layer's text when the file cannot be read. A pipe is
// read to its end, each wait for more bytes limited to `wait_limit_ms` (as long as a send waits
// for a stalled server by default).
std::vector<std::string> ReadTextLines(const std::string& path,
                                       int wait_limit_ms = net::SmtpClient::kDataBlockTimeout);

// The lines of a text as a memo holds them: split at LF; an empty text has no lines.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace tovrel::app
