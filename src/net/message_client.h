#pragma once

// The message writer: turns a Message into the text sent between "Data" and the final "." line
// (header block, blank line, plain or MIME body with base64 attachments), written straight to the
// connection with SMTP dot-stuffing applied. Attachments are encoded piece by piece into a spool
// file and streamed from there, so their size never shows in memory; the spool file is removed on
// every path.

#include <string>
#include <vector>

#include "message/header_generation.h"
#include "message/locale_info.h"
#include "message/message.h"
#include "net/tcp_client.h"

namespace tovrel::net {

struct PartCounts {
  int attachment_count = 0;
  int text_count = 0;
  int related_count = 0;
};

class MessageClient : public TcpClient {
 public:
  explicit MessageClient(BaseComponent* owner = nullptr) : TcpClient(owner) {}

  // The locale that picks the header charset; the program passes the one it read at start-up.
  const message::LocaleInfo& locale() const { return locale_; }
  void set_locale(const message::LocaleInfo& locale) { locale_ = locale; }

  virtual void WriteMessage(message::Message& message);
  // Sets the message's top-level content type and writes the header lines.
  virtual PartCounts WriteHeaderSection(message::Message& message);
  virtual void WriteBodySection(message::Message& message, const PartCounts& counts);

 protected:
  void WriteTextPart(message::TextPart& part, message::HeaderTransfer transfer);
  void WriteAttachmentPart(message::Attachment& part);

 private:
  // Whether the body is 8-bit text of a UTF-8 locale, which the headers must then declare.
  bool DeclaresUtf8Body(const message::Message& message) const;

  message::LocaleInfo locale_;
  // Reused for every part so that long messages do not allocate per piece.
  std::string coded_;
  std::vector<char> file_area_;
};

// The file name as it may stand between the double quotes of a part header: the last path
// component, with backslash and double quote escaped and control characters written as "_".
std::string AttachmentHeaderName(const std::string& path);

}  // namespace tovrel::net
