#pragma once

// The header block of a message as the writer sends it: the generated fields with the content
// fields that the body needs, then the message's extra fields with the writer's X-Mailer. The
// block is built in a list of its own; the message itself is never changed.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "message/body_file.h"
#include "message/header_list.h"
#include "message/locale_info.h"
#include "message/message.h"
#include "net/body_text.h"

namespace tovrel::net {

// The shape of a message's body: its parts, and how its own body text goes out.
struct BodyLayout {
  int attachment_count = 0;
  int text_count = 0;
  int related_count = 0;  // attachments with a Content-ID
  // The message's body text, when it is written at all (fewer than two text parts).
  TextPlan body;
  // Appended to every boundary of this message: empty, unless a line of its text starts like a
  // delimiter of one of them and would end its part early. Then it is random, so that no text
  // can be made to match it.
  std::string boundary_suffix;
  // The message's body file, opened as the layout was made: the text goes out from the very
  // file that was looked at. None for a body of lines.
  std::shared_ptr<message::BodyFile> body_file;
  // What the lines of the body file take as typed, each with its CR LF and the dot that stuffing
  // puts before a line beginning with ".".
  int64_t body_file_as_typed_size = 0;

  bool WritesBody() const { return text_count < 2; }
  bool HasBoundaries() const { return attachment_count > 0 || text_count > 0; }
  std::string Boundary(const char* base) const { return base + boundary_suffix; }
};

// The counts only; the body is left as typed and the boundaries bare.
BodyLayout CountParts(const message::Message& message);

// Looks at text line by line for lines that begin like a delimiter of the message's boundaries:
// bare, and with a suffix chosen before the text is seen, so that the search rides along with
// the scan that plans the text instead of taking a pass of its own.
class DelimiterWatch {
 public:
  explicit DelimiterWatch(std::string suffix) : suffix_(std::move(suffix)) {}

  // A piece of a line; `line_ends`: its last one. Only a line's first piece is looked at.
  void AddPiece(std::string_view piece, bool line_ends);
  // Every line of `lines`, entries split at the line ends they hold as the wire splits them.
  void AddAll(const BodyLines& lines);
  // The text so far does not count (a body file's pass starts again).
  void Clear() {
    bare_ = suffixed_ = false;
    line_start_ = true;
  }

  const std::string& suffix() const { return suffix_; }
  bool bare() const { return bare_; }
  bool suffixed() const { return suffixed_; }

 private:
  std::string suffix_;
  bool bare_ = false;
  bool suffixed_ = false;
  bool line_start_ = true;
};

// A suffix for the boundaries of `message` that no line of its text begins with: none when
// none begins with a bare one. `body_watch` has seen the body as it is written (nothing when it
// is not), with `body` the same text for a search that must be made again.
std::string ChooseBoundarySuffix(const message::Message& message, const DelimiterWatch& body_watch,
                                 const BodyLines* body);
// A fresh random suffix for DelimiterWatch.
std::string RandomBoundarySuffix();

// How a body of 8-bit text from a UTF-8 locale is declared when it goes out as typed.
inline constexpr char kUtf8TextType[] = "text/plain; charset=UTF-8";
inline constexpr char kUtf8TransferEncoding[] = "8bit";
inline constexpr char kQuotedPrintable[] = "quoted-printable";

// The content type of the body text, when it must say what it is: quoted-printable text, or 8-bit
// text of a UTF-8 locale. Empty when the body goes out with the bare defaults.
// `converted_to_jis`: the body goes out converted from Shift_JIS to ISO-2022-JP.
std::string BodyTextType(const TextPlan& body, const message::LocaleInfo& locale,
                         bool converted_to_jis);

// Where "MIME-Version: 1.0" stands, if anywhere.
enum class MimeVersion { mvNone, mvWithContentFields, mvAfterExtraFields };

// The top-level content fields.
struct ContentFields {
  std::string content_type;
  std::string transfer_encoding;
  MimeVersion mime_version = MimeVersion::mvNone;
};

// The one place that chooses the top-level content fields: a multipart type from the parts, else
// the message's own type; the message's character set is appended either way. A body without
// parts that must say what it is gets its own fields.
ContentFields ChooseContentFields(const message::Message& message, const BodyLayout& layout,
                                  const message::LocaleInfo& locale);

// `mail_agent`, when given, is the X-Mailer value; an empty one leaves out any X-Mailer field of
// the message. Raises FailedToRetrieveTimeZoneInfo when the date cannot be made.
message::HeaderList BuildHeaderBlock(const message::Message& message,
                                     const message::LocaleInfo& locale,
                                     const ContentFields& content,
                                     const std::optional<std::string>& mail_agent);

}  // namespace tovrel::net
