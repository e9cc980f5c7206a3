#pragma once

// Python's email parser as the judge of what the server received: the message is parsed by
// the standard library and described as JSON.

#include <QJsonObject>
#include <string>

namespace tovrel::test {

// Keys: "from", "to", "cc", "bcc" (null when absent), "subject", "content_type",
// "body" (the plain text with LF line ends: the whole payload, or the first text/plain part),
// "defects" (count), "message_ids" (every Message-ID field),
// "attachments": [{"filename", "content_type", "charset" (empty when none), "encoding",
// "data_hex"}].
QJsonObject JudgeMail(const std::string& data_path);

}  // namespace tovrel::test
