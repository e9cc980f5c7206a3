#include "net/message_client.h"

#include <unistd.h>

#include <string_view>

#include "message/coders/coder_registry.h"
#include "message/message_error.h"
#include "message/string_helpers.h"
#include "net/byte_stream.h"
#include "net/texts.h"

namespace tovrel::net {

namespace {

// Attachments are read in whole multiples of the 57-byte piece that fills one base64 line.
constexpr size_t kPieceSize = 57;
constexpr size_t kFileBlock = kPieceSize * 1152;
// Encoded text collects in memory up to this size before it goes to the spool file.
constexpr size_t kSpoolBlock = 256 * 1024;

constexpr char kPreamble[] = "This is a multi-part message in MIME format";
constexpr char kParameterIndent[] = "        ";
constexpr char kDefaultTextType[] = "text/plain";
constexpr char kDefaultTextTransfer[] = "quoted-printable";
constexpr char kDefaultAttachmentTransfer[] = "base64";
constexpr char kDefaultAttachmentType[] = "application/octet-stream";
constexpr char kDefaultDisposition[] = "attachment";

std::string Delimiter(const char* boundary) { return std::string("--") + boundary; }
std::string EndDelimiter(const char* boundary) { return Delimiter(boundary) + "--"; }

// Deletes the spool file however the writing of its part ends.
class SpoolFileRemover {
 public:
  explicit SpoolFileRemover(std::string path) : path_(std::move(path)) {}
  ~SpoolFileRemover() { ::unlink(path_.c_str()); }
  SpoolFileRemover(const SpoolFileRemover&) = delete;
  SpoolFileRemover& operator=(const SpoolFileRemover&) = delete;

 private:
  std::string path_;
};

}  // namespace

std::string AttachmentHeaderName(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string::npos
                                    ? std::string_view(path)
                                    : std::string_view(path).substr(slash + 1);
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out.push_back('\\');
      out.push_back(c);
    } else if (byte < 32 || byte == 127) {
      out.push_back('_');  // a CR or LF here would end the header line
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void MessageClient::WriteStuffedLine(std::string_view line) {
  WriteLine(stuffer_.Stuff(line));
  stuffer_.EndLine();
}

void MessageClient::WriteStuffedText(std::string_view text) { WriteText(stuffer_.Stuff(text)); }

void MessageClient::WriteMessage(const message::Message& message,
                                 const std::optional<std::string>& mail_agent) {
  const PartCounts counts = WriteHeaderSection(message, mail_agent);
  if (counts.text_count == 1) throw message::TextInvalidCount();
  WriteStuffedLine("");
  WriteBodySection(message, counts);
}

PartCounts MessageClient::WriteHeaderSection(const message::Message& message,
                                             const std::optional<std::string>& mail_agent) {
  const PartCounts counts = CountParts(message);
  const ContentFields content =
      ChooseContentFields(message, counts, DeclaresUtf8Body(message, locale_));
  const message::HeaderList block = BuildHeaderBlock(message, locale_, content, mail_agent);
  stuffer_ = DotStuffer();
  for (const std::string& line : block) WriteStuffedLine(line);
  return counts;
}

void MessageClient::WriteBodySection(const message::Message& message, const PartCounts& counts) {
  const message::HeaderTransfer transfer = SelectHeaderCharset(locale_).transfer;
  WorkPhase work(*this, WorkMode::wkWrite);
  if (counts.attachment_count >= 1) {
    WriteStuffedLine(kPreamble);
    WriteStuffedLine("");
    const std::string boundary =
        Delimiter(counts.related_count > 0 ? message::kRelatedBoundary : message::kMixedBoundary);
    WriteStuffedLine(boundary);
    if (counts.text_count < 2) {
      if (DeclaresUtf8Body(message, locale_)) {
        WriteStuffedLine(std::string("Content-Type: ") + kUtf8TextType);
        WriteStuffedLine(std::string("Content-Transfer-Encoding: ") + kUtf8TransferEncoding);
      } else {
        WriteStuffedLine("Content-Type: text/plain");
        WriteStuffedLine("Content-Transfer-Encoding: 7bit");
      }
      WriteStuffedLine("");
      for (const std::string& line : message.body()) WriteStuffedLine(line);
    } else {
      WriteStuffedLine("Content-Type: multipart/alternative; ");
      WriteStuffedLine(std::string(kParameterIndent) + "boundary=\"" +
                       message::kAlternativeBoundary + "\"");
      WriteStuffedLine("");
      for (size_t i = 0; i < message.parts().count(); ++i) {
        if (auto* text = dynamic_cast<const message::TextPart*>(&message.parts()[i])) {
          WriteStuffedLine(Delimiter(message::kAlternativeBoundary));
          ReportStatus(ConnectionStatus::stText, texts::kEncodingText);
          WriteTextPart(*text, transfer);
        }
      }
      WriteStuffedLine(EndDelimiter(message::kAlternativeBoundary));
    }
    for (size_t i = 0; i < message.parts().count(); ++i) {
      if (auto* attachment = dynamic_cast<const message::Attachment*>(&message.parts()[i])) {
        WriteStuffedLine("");
        WriteStuffedLine(boundary);
        ReportStatus(ConnectionStatus::stText, texts::kEncodingAttachment);
        WriteAttachmentPart(*attachment);
      }
    }
    WriteStuffedLine(boundary + "--");
  } else if (counts.text_count < 2) {
    ReportStatus(ConnectionStatus::stText, texts::kEncodingText);
    for (const std::string& line : message.body()) {
      // Two branches, not one conditional expression: that would copy every line of the body.
      if (transfer == message::txIso2022Jp) {
        WriteStuffedLine(message::ShiftJisToJis(line));
      } else {
        WriteStuffedLine(line);
      }
    }
  } else {
    WriteStuffedLine(kPreamble);
    WriteStuffedLine("");
    for (size_t i = 0; i < message.parts().count(); ++i) {
      if (auto* text = dynamic_cast<const message::TextPart*>(&message.parts()[i])) {
        WriteStuffedLine(Delimiter(message::kMixedBoundary));
        ReportStatus(ConnectionStatus::stText, texts::kEncodingText);
        WriteTextPart(*text, transfer);
      }
    }
    WriteStuffedLine(EndDelimiter(message::kMixedBoundary));
  }
}

void MessageClient::WriteTextPart(const message::TextPart& part, message::HeaderTransfer transfer) {
  const std::string type = part.content_type().empty() ? kDefaultTextType : part.content_type();
  const std::string encoding =
      part.content_transfer().empty() ? kDefaultTextTransfer : part.content_transfer();
  const message::CoderItem* row =
      message::FindCoder(type, encoding, message::CoderDirection::kEncoder);
  std::unique_ptr<message::Coder> coder = row->CreateCoder();
  coder->set_discard_notices(true);
  WriteStuffedLine("Content-Type: " + type);
  WriteStuffedLine("Content-Transfer-Encoding: " + encoding);
  for (const std::string& line : part.extra_headers()) WriteStuffedLine(line);
  WriteStuffedLine("");
  std::string piece;
  for (const std::string& line : part.body()) {
    piece.assign(line);
    piece.append("\r\n");
    coded_.clear();
    coder->Feed(piece, coded_);
    coder->FinishInput(coded_);
    if (transfer == message::txIso2022Jp) {
      WriteStuffedText(message::ShiftJisToJis(coded_));
    } else {
      WriteStuffedText(coded_);
    }
  }
  WriteStuffedLine("");
}

void MessageClient::WriteAttachmentPart(const message::Attachment& part) {
  const std::string encoding =
      part.content_transfer().empty() ? kDefaultAttachmentTransfer : part.content_transfer();
  const std::string disposition =
      part.content_disposition().empty() ? kDefaultDisposition : part.content_disposition();
  // The lookup sees the content type as the caller left it, before the default below.
  const message::CoderItem* row =
      message::FindCoder(part.content_type(), encoding, message::CoderDirection::kEncoder);
  std::string type = part.content_type();
  if (encoding == kDefaultAttachmentTransfer && type.empty()) type = kDefaultAttachmentType;
  std::unique_ptr<message::Coder> coder = row->CreateCoder();
  coder->set_discard_notices(true);
  coder->set_append_line_break(true);

  FileStream source(part.file_name(), FileStream::Mode::kRead);
  const std::string spool_path = message::NewSpoolFileName();
  SpoolFileRemover remover(spool_path);
  FileStream spool(spool_path, FileStream::Mode::kReadWrite);
  // The spool holds the part's lines as they go out, so they are stuffed on the way in. They
  // follow the blank line after the part header, at the start of a line.
  DotStuffer spool_stuffer;

  file_area_.resize(kFileBlock);
  coded_.clear();
  for (;;) {
    // Fill the block completely so that every piece but the file's last is a whole one.
    size_t got = 0;
    while (got < kFileBlock) {
      const size_t n = source.Read(std::span<char>(file_area_.data() + got, kFileBlock - got));
      if (n == 0) break;
      got += n;
    }
    if (got == 0) break;
    for (size_t at = 0; at < got; at += kPieceSize) {
      const size_t length = std::min(kPieceSize, got - at);
      coder->Feed(std::string_view(file_area_.data() + at, length), coded_);
      coder->FinishInput(coded_);
    }
    if (coded_.size() >= kSpoolBlock) {
      spool.Write(spool_stuffer.Stuff(coded_));
      coded_.clear();
    }
  }
  spool.Write(spool_stuffer.Stuff(coded_));
  coded_.clear();

  const std::string name = AttachmentHeaderName(part.file_name());
  WriteStuffedLine("Content-Type: " + type + ";");
  WriteStuffedLine(std::string(kParameterIndent) + "name=\"" + name + "\"");
  WriteStuffedLine("Content-Transfer-Encoding: " + encoding);
  WriteStuffedLine("Content-Disposition: " + disposition + ";");
  WriteStuffedLine(std::string(kParameterIndent) + "filename=\"" + name + "\"");
  for (const std::string& line : part.extra_headers()) WriteStuffedLine(line);
  WriteStuffedLine("");
  WriteStreamContents(spool);
  // The message text goes on where the spool ended.
  stuffer_ = std::move(spool_stuffer);
  WriteStuffedLine("");
}

}  // namespace tovrel::net
