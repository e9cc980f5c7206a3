#pragma once

// The message writer: turns a Message into the text sent between "Data" and the final "." line
// (header block, blank line, plain or MIME body with base64 attachments), written straight to the
// connection. Every line of that text goes out through a DotStuffer, so the SMTP dot-stuffing
// also reaches lines that an encoder broke. The message is only read: writing it twice gives the
// same text, apart from a date taken from the clock and the random boundary suffix of a body
// that holds a delimiter line. Attachments are read as message::InputFile reads them (regular
// files and pipes only) and encoded block by block straight onto the connection, so their size
// never shows in memory and nothing of them is left on disk; a file that fails half-way leaves
// the message unfinished, and the send closes the connection without its final ".". A body file
// (message::BodyFile) is opened when the body is laid out (or before, see OpenBodyFile) and read
// line by line, once to plan the text (and find a boundary it holds) and once to write it, so
// it is never held whole either;
// its lines come in pieces and are encoded in blocks, so that not even a line of it is. Body text
// goes out as typed where SMTP can carry it, else quoted-printable (see body_text.h).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "message/body_file.h"
#include "message/coders/coder_registry.h"
#include "message/header_generation.h"
#include "message/input_file.h"
#include "message/locale_info.h"
#include "message/message.h"
#include "net/dot_stuffer.h"
#include "net/header_block.h"
#include "net/tcp_client.h"

namespace tovrel::net {

// A message laid out for the wire, once: the header lines, then the body section as a run of
// steps (lines, text in the form its scan chose, text through a coder, a file through a coder).
// Writing runs the steps onto the connection, sizing runs them into a count through the same
// dot-stuffing, so the size is the bytes written and no change of layout can make it wrong. A
// plan refers to its message, which must outlive it and stay unchanged.
class MessagePlan {
 public:
  const BodyLayout& layout() const { return layout_; }
  // Whether the text puts 8-bit bytes on the wire as they stand.
  bool CarriesEightBitText() const;

  // The steps of the body section.
  struct Line {
    std::string text;
  };
  // The status a part reports as it begins.
  struct Status {
    const char* text;
  };
  // Text that goes out as typed or quoted-printable, as its scan chose.
  struct Text {
    BodyLines lines;
    TextPlan plan;
    bool to_jis;         // converted from Shift_JIS first
    int64_t known_size;  // counted by the scan already, or -1
  };
  // Text lines through the coder its part names, each finished as a whole.
  struct CodedText {
    const message::StringList* lines;
    const message::CoderItem* coder;
    bool quoted_printable;
    bool wrap_long_lines;  // for a quoted-printable coder
    bool to_jis;
  };
  // An attachment: its header lines, then its file through the coder. The file is opened before
  // the header lines go out, so that one that cannot be read leaves no part begun.
  struct File {
    std::string path;
    message::StringList header;
    const message::CoderItem* coder;
    bool base64;      // its size follows from the file's
    bool whole_file;  // UU and XX: one finish for the whole file, with its name
    int wait_limit_ms;
    std::optional<message::PathLook> look;  // the caller's, when it looked
  };
  using Step = std::variant<Line, Status, Text, CodedText, File>;

 private:
  friend class MessageClient;

  BodyLayout layout_;
  message::StringList header_;
  std::vector<Step> body_;
};

class MessageClient : public TcpClient {
 public:
  explicit MessageClient(BaseComponent* owner = nullptr) : TcpClient(owner) {}

  // The locale that picks the header charset; the program passes the one it read at start-up.
  const message::LocaleInfo& locale() const { return locale_; }
  void set_locale(const message::LocaleInfo& locale) { locale_ = locale; }
  // Whether the receiver takes 8-bit text as it stands (RFC 6152); when not, 8-bit body text goes
  // out quoted-printable. On for a writer of its own; SmtpClient sets it from the server's EHLO
  // reply.
  bool eight_bit_allowed() const { return eight_bit_allowed_; }
  void set_eight_bit_allowed(bool allowed) { eight_bit_allowed_ = allowed; }
  // The most bytes a body file that is a pipe may bring (see message::BodyFile).
  int64_t body_spool_limit() const { return body_spool_limit_; }
  void set_body_spool_limit(int64_t limit) { body_spool_limit_ = limit; }

  // Opens the body file at `path` ahead of the send whose message names it, so that a pipe is
  // read to its end before any connection is made: no server waits on the pipe's writer, and
  // the message's size is known before it is offered. `wait_limit` bounds each wait for the
  // pipe's next bytes. The next layout of a message with that body file takes this file. Raises
  // FileError as message::BodyFile does.
  void OpenBodyFile(const std::string& path, WaitLimit wait_limit);
  // The body file of the message at hand: the one OpenBodyFile opened, else the one the last
  // layout read; kept until ForgetBodyFile or the next layout. A piped body's text lives only
  // there (in its spool), so whatever writes the message again (into the outbox, into Sent)
  // hands it to its own writer with UseBodyFile instead of opening the path anew.
  const std::shared_ptr<message::BodyFile>& body_file() const { return opened_body_file_; }
  void UseBodyFile(std::shared_ptr<message::BodyFile> file) { opened_body_file_ = std::move(file); }
  void ForgetBodyFile() { opened_body_file_.reset(); }

  // The shape of the body `message` gets: its parts and how its body text goes out. Opens the
  // message's body file, if it names one; raises FileError when that fails. The body text is
  // read once here, and once more as it is written.
  BodyLayout LayOutBody(const message::Message& message) const;
  // The whole message laid out: `mail_agent`, when given, is written as the X-Mailer field; an
  // empty one leaves out any X-Mailer field the message carries. The header block is made here,
  // with its date, so every text written from the plan is the same.
  MessagePlan PlanMessage(const message::Message& message,
                          const std::optional<std::string>& mail_agent, BodyLayout layout) const;

  void WriteMessage(const message::Message& message,
                    const std::optional<std::string>& mail_agent = std::nullopt);
  virtual void WriteMessage(const message::Message& message,
                            const std::optional<std::string>& mail_agent, const BodyLayout& layout);
  // The same for a message laid out before (SmtpClient sizes it first and may send it more than
  // once).
  void WriteMessage(const MessagePlan& plan);
  // Writes the header lines: the message's fields with the content fields its body needs.
  virtual void WriteHeaderSection(const message::Message& message,
                                  const std::optional<std::string>& mail_agent,
                                  const BodyLayout& layout);
  virtual void WriteBodySection(const message::Message& message, const BodyLayout& layout);

  // How many bytes WriteMessage writes for the plan, dot-stuffing included, known before
  // anything is written: the SIZE offered and the end of a progress display. A body file that
  // goes out as typed was counted by its layout; quoted-printable text is counted as it is
  // encoded, which takes a pass of its own over a body file. Attachments count at the size
  // their files have now (a pipe's as empty).
  int64_t MessageSize(const MessagePlan& plan) const;
  int64_t MessageSize(const message::Message& message, const std::optional<std::string>& mail_agent,
                      const BodyLayout& layout) const;

 private:
  message::StringList PlanHeader(const message::Message& message,
                                 const std::optional<std::string>& mail_agent,
                                 const BodyLayout& layout) const;
  std::vector<MessagePlan::Step> PlanBody(const message::Message& message,
                                          const BodyLayout& layout) const;
  void PlanTextPart(const message::TextPart& part, bool to_jis,
                    std::vector<MessagePlan::Step>& steps) const;
  // `previous`, when given, is the step of the attachment before.
  MessagePlan::File PlanAttachment(const message::Attachment& part,
                                   const MessagePlan::File* previous) const;
  void WriteBody(const std::vector<MessagePlan::Step>& steps);
  // How long a file to be sent may keep its next bytes waiting.
  int InputWaitLimit() const;

  message::LocaleInfo locale_;
  bool eight_bit_allowed_ = true;
  int64_t body_spool_limit_ = message::kPipeSpoolLimit;
  // Opened by OpenBodyFile or by the last layout (see body_file()).
  mutable std::shared_ptr<message::BodyFile> opened_body_file_;
  // Starts afresh with each header section.
  DotStuffer stuffer_;
  // Reused for every part so that long messages do not allocate per piece.
  std::string coded_;
  std::vector<char> file_area_;
  // Output held back to join what follows it (see the writer's Output).
  std::string held_;
};

// The file name as it may stand between the double quotes of a part header: the last path
// component, with backslash and double quote escaped and control characters written as "_".
std::string AttachmentHeaderName(const std::string& path);

// The file name parameter `attribute` (name, filename) of a part header for the file at `path`:
// attribute="name" for a name of ASCII, else the RFC 2231 form attribute*=UTF-8''... (or
// ISO-8859-1 for bytes that are not UTF-8), percent-encoded; "name" then holds the name as RFC
// 2047 encoded words in quotes instead, for readers that know no other form. A name that looks
// like an encoded word takes these forms too, so that no reader decodes it into another name.
std::string FileNameParameter(std::string_view attribute, const std::string& path);

}  // namespace tovrel::net
