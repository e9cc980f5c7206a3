#include "net/message_client.h"

#include <unistd.h>

#include <cstdint>
#include <cstring>
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
constexpr char kAlternativeDelimiter[] = "--=_NextPart_2altjgjjvttfbfuj88oamz1inn";
constexpr char kAlternativeEnd[] = "--=_NextPart_2altjgjjvttfbfuj88oamz1inn--";
constexpr char kTextOnlyDelimiter[] = "--=_NextPart_2jgjjvttfbfuj88oamz1inn";
constexpr char kTextOnlyEnd[] = "--=_NextPart_2jgjjvttfbfuj88oamz1inn--";
constexpr char kParameterIndent[] = "        ";
constexpr char kUtf8TextType[] = "text/plain; charset=UTF-8";

bool HasEightBitByte(std::string_view text) {
  // Eight bytes at a time: bodies run to many megabytes and are nearly always plain ASCII.
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if ((word & kHighBits) != 0) return true;
  }
  for (; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return true;
  }
  return false;
}

bool HasEightBitByte(const message::StringList& lines) {
  for (const std::string& line : lines) {
    if (HasEightBitByte(std::string_view(line))) return true;
  }
  return false;
}

// The SMTP transparency rule: a line that starts with "." gets another in front. The message
// keeps the stuffed line.
void DotStuff(std::string& line) {
  if (!line.empty() && line[0] == '.') line.insert(line.begin(), '.');
}

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

class WorkScope {
 public:
  explicit WorkScope(NetComponent& component) : component_(component) {
    component_.StartWork(WorkMode::wkWrite, 0);
  }
  ~WorkScope() { component_.FinishWork(WorkMode::wkWrite); }
  WorkScope(const WorkScope&) = delete;
  WorkScope& operator=(const WorkScope&) = delete;

 private:
  NetComponent& component_;
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

bool MessageClient::DeclaresUtf8Body(const message::Message& message) const {
  return locale_.IsUtf8() && HasEightBitByte(message.body());
}

void MessageClient::WriteMessage(message::Message& message) {
  const PartCounts counts = WriteHeaderSection(message);
  if (counts.text_count == 1) throw message::TextInvalidCount();
  WriteLine("");
  WriteBodySection(message, counts);
}

PartCounts MessageClient::WriteHeaderSection(message::Message& message) {
  PartCounts counts;
  for (size_t i = 0; i < message.parts().count(); ++i) {
    message::MessagePart& part = message.parts()[i];
    if (dynamic_cast<message::TextPart*>(&part) != nullptr) {
      ++counts.text_count;
    } else if (dynamic_cast<message::Attachment*>(&part) != nullptr) {
      ++counts.attachment_count;
      if (!part.extra_headers().ValueOf("Content-ID").empty()) ++counts.related_count;
    }
  }
  std::string content_type = message.content_type();
  if (counts.related_count > 0) {
    content_type = std::string("multipart/related; type=\"multipart/alternative\"; boundary=\"") +
                   message::kRelatedBoundary + "\"";
  } else if (counts.attachment_count > 0) {
    content_type = std::string("multipart/mixed; boundary=\"") + message::kMixedBoundary + "\"";
  } else if (counts.text_count > 0) {
    content_type =
        std::string("multipart/alternative; boundary=\"") + message::kMixedBoundary + "\"";
  }
  if (!content_type.empty()) {
    content_type += ";" + message.char_set();
  } else {
    content_type = message.char_set();
  }
  if (counts.text_count == 0 && counts.attachment_count == 0 && content_type.empty() &&
      message.content_transfer_encoding().empty() && DeclaresUtf8Body(message)) {
    // Without these a reader guesses the character set of the typed text, and usually guesses
    // wrong. A body of plain ASCII keeps the bare header block.
    content_type = kUtf8TextType;
    message.set_content_transfer_encoding("8bit");
    message.extra_headers().SetHeader("MIME-Version", "1.0");
  }
  message.set_content_type(content_type);
  const message::HeaderList headers = BuildHeaderList(message, locale_);
  for (const std::string& line : headers) WriteLine(line);
  return counts;
}

void MessageClient::WriteBodySection(message::Message& message, const PartCounts& counts) {
  const message::HeaderTransfer transfer = SelectHeaderCharset(locale_).transfer;
  WorkScope work(*this);
  if (counts.attachment_count >= 1) {
    WriteLine(kPreamble);
    WriteLine("");
    const std::string boundary =
        std::string("--") +
        (counts.related_count > 0 ? message::kRelatedBoundary : message::kMixedBoundary);
    WriteLine(boundary);
    if (counts.text_count < 2) {
      if (DeclaresUtf8Body(message)) {
        WriteLine(std::string("Content-Type: ") + kUtf8TextType);
        WriteLine("Content-Transfer-Encoding: 8bit");
      } else {
        WriteLine("Content-Type: text/plain");
        WriteLine("Content-Transfer-Encoding: 7bit");
      }
      WriteLine("");
      for (std::string& line : message.body()) {
        DotStuff(line);
        WriteLine(line);
      }
    } else {
      WriteLine("Content-Type: multipart/alternative; ");
      WriteLine(std::string(kParameterIndent) + "boundary=\"" + message::kAlternativeBoundary +
                "\"");
      WriteLine("");
      for (size_t i = 0; i < message.parts().count(); ++i) {
        if (auto* text = dynamic_cast<message::TextPart*>(&message.parts()[i])) {
          WriteLine(kAlternativeDelimiter);
          ReportStatus(ConnectionStatus::stText, texts::kEncodingText);
          WriteTextPart(*text, transfer);
        }
      }
      WriteLine(kAlternativeEnd);
    }
    for (size_t i = 0; i < message.parts().count(); ++i) {
      if (auto* attachment = dynamic_cast<message::Attachment*>(&message.parts()[i])) {
        WriteLine("");
        WriteLine(boundary);
        ReportStatus(ConnectionStatus::stText, texts::kEncodingAttachment);
        WriteAttachmentPart(*attachment);
      }
    }
    WriteLine(boundary + "--");
  } else if (counts.text_count < 2) {
    ReportStatus(ConnectionStatus::stText, texts::kEncodingText);
    for (std::string& line : message.body()) {
      DotStuff(line);
      // Two branches, not one conditional expression: that would copy every line of the body.
      if (transfer == message::txIso2022Jp) {
        WriteLine(message::ShiftJisToJis(line));
      } else {
        WriteLine(line);
      }
    }
  } else {
    WriteLine(kPreamble);
    WriteLine("");
    for (size_t i = 0; i < message.parts().count(); ++i) {
      if (auto* text = dynamic_cast<message::TextPart*>(&message.parts()[i])) {
        WriteLine(kTextOnlyDelimiter);
        ReportStatus(ConnectionStatus::stText, texts::kEncodingText);
        WriteTextPart(*text, transfer);
      }
    }
    WriteLine(kTextOnlyEnd);
  }
}

void MessageClient::WriteTextPart(message::TextPart& part, message::HeaderTransfer transfer) {
  if (part.content_type().empty()) part.set_content_type("text/plain");
  if (part.content_transfer().empty()) part.set_content_transfer("quoted-printable");
  const message::CoderItem* row = message::FindCoder(part.content_type(), part.content_transfer(),
                                                     message::CoderDirection::kEncoder);
  std::unique_ptr<message::Coder> coder = row->CreateCoder();
  coder->set_discard_notices(true);
  WriteLine("Content-Type: " + part.content_type());
  WriteLine("Content-Transfer-Encoding: " + part.content_transfer());
  WriteLines(part.extra_headers().lines());
  WriteLine("");
  std::string piece;
  for (std::string& line : part.body()) {
    DotStuff(line);
    piece.assign(line);
    piece.append("\r\n");
    coded_.clear();
    coder->Feed(piece, coded_);
    coder->FinishInput(coded_);
    if (transfer == message::txIso2022Jp) {
      WriteText(message::ShiftJisToJis(coded_));
    } else {
      WriteText(coded_);
    }
  }
  WriteLine("");
}

void MessageClient::WriteAttachmentPart(message::Attachment& part) {
  if (part.content_transfer().empty()) part.set_content_transfer("base64");
  if (part.content_disposition().empty()) part.set_content_disposition("attachment");
  // The lookup sees the content type as the caller left it, before the default below.
  const message::CoderItem* row = message::FindCoder(part.content_type(), part.content_transfer(),
                                                     message::CoderDirection::kEncoder);
  if (part.content_transfer() == "base64" && part.content_type().empty()) {
    part.set_content_type("application/octet-stream");
  }
  std::unique_ptr<message::Coder> coder = row->CreateCoder();
  coder->set_discard_notices(true);
  coder->set_append_line_break(true);

  FileStream source(part.file_name(), FileStream::Mode::kRead);
  const std::string spool_path = message::NewSpoolFileName();
  SpoolFileRemover remover(spool_path);
  part.set_spool_file_name(spool_path);
  FileStream spool(spool_path, FileStream::Mode::kReadWrite);

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
      spool.Write(coded_);
      coded_.clear();
    }
  }
  spool.Write(coded_);
  coded_.clear();

  const std::string name = AttachmentHeaderName(part.file_name());
  WriteLine("Content-Type: " + part.content_type() + ";");
  WriteLine(std::string(kParameterIndent) + "name=\"" + name + "\"");
  WriteLine("Content-Transfer-Encoding: " + part.content_transfer());
  WriteLine("Content-Disposition: " + part.content_disposition() + ";");
  WriteLine(std::string(kParameterIndent) + "filename=\"" + name + "\"");
  WriteLines(part.extra_headers().lines());
  WriteLine("");
  WriteStreamContents(spool, true, false);
  WriteLine("");
}

}  // namespace tovrel::net
