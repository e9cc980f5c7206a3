#pragma once

// The header block of a message as the writer sends it: the generated fields with the content
// fields that the body needs, then the message's extra fields with the writer's X-Mailer. The
// block is built in a list of its own; the message itself is never changed.

#include <optional>
#include <string>

#include "message/header_list.h"
#include "message/locale_info.h"
#include "message/message.h"

namespace tovrel::net {

struct PartCounts {
  int attachment_count = 0;
  int text_count = 0;
  int related_count = 0;  // attachments with a Content-ID
};

PartCounts CountParts(const message::Message& message);

// How a body of 8-bit text from a UTF-8 locale is declared.
inline constexpr char kUtf8TextType[] = "text/plain; charset=UTF-8";
inline constexpr char kUtf8TransferEncoding[] = "8bit";

// Whether the body is 8-bit text of a UTF-8 locale, which must then be declared so.
bool DeclaresUtf8Body(const message::Message& message, const message::LocaleInfo& locale);

// Where "MIME-Version: 1.0" stands, if anywhere.
enum class MimeVersion { mvNone, mvWithContentFields, mvAfterExtraFields };

// The top-level content fields.
struct ContentFields {
  std::string content_type;
  std::string transfer_encoding;
  MimeVersion mime_version = MimeVersion::mvNone;
};

// The one place that chooses the top-level content fields: a multipart type from the parts, else
// the message's own type; the message's character set is appended either way.
ContentFields ChooseContentFields(const message::Message& message, const PartCounts& counts,
                                  bool declares_utf8_body);

// `mail_agent`, when given, is the X-Mailer value; an empty one leaves out any X-Mailer field of
// the message. Raises FailedToRetrieveTimeZoneInfo when the date cannot be made.
message::HeaderList BuildHeaderBlock(const message::Message& message,
                                     const message::LocaleInfo& locale,
                                     const ContentFields& content,
                                     const std::optional<std::string>& mail_agent);

}  // namespace tovrel::net
