#pragma once

// The message writer: turns a Message into the text sent between "Data" and the final "." line
// (header block, blank line, plain or MIME body with base64 attachments), written straight to the
// connection. Every line of that text goes out through a DotStuffer, so the SMTP dot-stuffing
// also reaches lines that an encoder broke. The message is only read: writing it twice gives the
// same text, apart from a date taken from the clock. Attachments are encoded piece by piece into
// a spool file and streamed from there, so their size never shows in memory; the spool file is
// removed on every path.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/header_generation.h"
#include "message/locale_info.h"
#include "message/message.h"
#include "net/dot_stuffer.h"
#include "net/header_block.h"
#include "net/tcp_client.h"

namespace tovrel::net {

class MessageClient : public TcpClient {
 public:
  explicit MessageClient(BaseComponent* owner = nullptr) : TcpClient(owner) {}

  // The locale that picks the header charset; the program passes the one it read at start-up.
  const message::LocaleInfo& locale() const { return locale_; }
  void set_locale(const message::LocaleInfo& locale) { locale_ = locale; }

  // `mail_agent`, when given, is written as the X-Mailer field; an empty one leaves out any
  // X-Mailer field the message carries.
  virtual void WriteMessage(const message::Message& message,
                            const std::optional<std::string>& mail_agent = std::nullopt);
  // Writes the header lines: the message's fields with the content fields its body needs.
  virtual PartCounts WriteHeaderSection(
      const message::Message& message, const std::optional<std::string>& mail_agent = std::nullopt);
  virtual void WriteBodySection(const message::Message& message, const PartCounts& counts);

 protected:
  void WriteTextPart(const message::TextPart& part, message::HeaderTransfer transfer);
  void WriteAttachmentPart(const message::Attachment& part);

 private:
  // The message text goes out through these.
  void WriteStuffedLine(std::string_view line);
  void WriteStuffedText(std::string_view text);

  message::LocaleInfo locale_;
  // Starts afresh with each header section.
  DotStuffer stuffer_;
  // Reused for every part so that long messages do not allocate per piece.
  std::string coded_;
  std::vector<char> file_area_;
};

// The file name as it may stand between the double quotes of a part header: the last path
// component, with backslash and double quote escaped and control characters written as "_".
std::string AttachmentHeaderName(const std::string& path);

}  // namespace tovrel::net
