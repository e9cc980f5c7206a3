#include "net/message_client.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string_view>
#include <typeinfo>

#include "message/body_file.h"
#include "message/coders/coder_registry.h"
#include "message/coders/quoted_printable.h"
#include "message/coders/uu_xx.h"
#include "message/input_file.h"
#include "message/message_error.h"
#include "message/shift_jis.h"
#include "message/string_helpers.h"
#include "message/utf8_text.h"
#include "net/byte_stream.h"
#include "net/texts.h"

namespace tovrel::net {

namespace {

// Attachments are read in whole multiples of the 57-byte piece that fills one base64 line.
constexpr size_t kPieceSize = 57;
constexpr size_t kFileBlock = kPieceSize * 1152;
// Encoded text collects in memory up to this size before it goes to the connection.
constexpr size_t kCodedBlock = 256 * 1024;
// Text is fed to an encoder in blocks of this size at most.
constexpr size_t kTextBlock = 64 * 1024;

constexpr char kPreamble[] = "This is a multi-part message in MIME format";
constexpr char kParameterIndent[] = "        ";
constexpr char kDefaultTextType[] = "text/plain";
constexpr char kDefaultTextTransfer[] = "quoted-printable";
constexpr char kDefaultAttachmentTransfer[] = "base64";
constexpr char kDefaultAttachmentType[] = "application/octet-stream";
constexpr char kDefaultDisposition[] = "attachment";
// RFC 5322 section 2.1.1: a line holds at most 998 octets before its CR LF.
constexpr size_t kMaxEncodedLine = 998;

std::string Delimiter(const std::string& boundary) { return "--" + boundary; }
std::string EndDelimiter(const std::string& boundary) { return Delimiter(boundary) + "--"; }

// The last path component, with control characters written as "_": a CR or LF there would end
// the header line.
std::string SafeBaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (char& c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) c = '_';
  }
  return name;
}

// Characters that stand for themselves in an RFC 2231 value (RFC 5987 attr-char).
bool IsAttributeChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

// The name as a UU or XX header line carries it: printable ASCII, so the part stays 7-bit.
std::string UuFileName(const std::string& path) {
  std::string name = SafeBaseName(path);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) > 126) c = '_';
  }
  return name;
}

// One line as it goes out, with its CR LF.
int64_t LineSize(std::string_view line) { return static_cast<int64_t>(line.size()) + 2; }

// A base64 attachment: one line of 76 characters for every whole 57-byte piece.
int64_t Base64Size(int64_t bytes) {
  const int64_t whole = bytes / static_cast<int64_t>(kPieceSize);
  const int64_t rest = bytes % static_cast<int64_t>(kPieceSize);
  return whole * 78 + (rest > 0 ? (rest + 2) / 3 * 4 + 2 : 0);
}

// Every wire line of `lines`, converted from Shift_JIS first with `to_jis`, as
// `take(piece, line_ends)`: a line of a body file that needs no conversion comes in the pieces
// the file hands on, any other whole.
void ForEachWirePiece(const BodyLines& lines, bool to_jis,
                      const message::BodyFile::PieceTaker& take) {
  EntryJoiner joiner;
  std::string converted;
  auto whole = [&](std::string_view entry) {
    if (to_jis) {
      converted = message::ShiftJisToJis(entry);
      entry = converted;
    }
    ForEachWireLine(entry, [&](std::string_view line) { take(line, true); });
  };
  lines.ForEach([&](std::string_view piece, bool line_ends) {
    if (to_jis) {
      joiner.Add(piece, line_ends, whole);
    } else if (!line_ends) {
      take(piece, false);  // of a file's line, which holds no line end
    } else {
      whole(piece);
    }
  });
}

// `lines` quoted-printable as the writer sends them, handed to `out` in blocks of about
// kCodedBlock bytes: a line is fed to the encoder in blocks too, so that no line of any length
// shows whole. The size is counted from the very same bytes, so that it is exact.
void EncodeQuotedPrintable(const BodyLines& lines, bool to_jis, std::string& coded,
                           const std::function<void(std::string_view)>& out) {
  message::QuotedPrintableEncoder encoder;
  encoder.set_discard_notices(true);
  encoder.set_wrap_long_lines(true);
  coded.clear();
  auto pass_on_full = [&] {
    if (coded.size() < kCodedBlock) return;
    out(coded);
    coded.clear();
  };
  ForEachWirePiece(lines, to_jis, [&](std::string_view piece, bool line_ends) {
    for (size_t at = 0; at < piece.size(); at += kTextBlock) {
      encoder.Feed(piece.substr(at, kTextBlock), coded);
      pass_on_full();
    }
    if (!line_ends) return;
    encoder.Feed("\r\n", coded);
    encoder.FinishInput(coded);
    pass_on_full();
  });
  if (!coded.empty()) out(coded);
  coded.clear();
}

// Text lines in the form `plan` chose.
int64_t TextLinesSize(const BodyLines& lines, const TextPlan& plan, bool to_jis) {
  int64_t size = 0;
  if (plan.form == TextForm::tfAsTyped) {
    ForEachWirePiece(lines, to_jis, [&size](std::string_view piece, bool line_ends) {
      size += static_cast<int64_t>(piece.size()) + (line_ends ? 2 : 0);
    });
  } else {
    std::string coded;
    EncodeQuotedPrintable(lines, to_jis, coded, [&size](std::string_view text) {
      size += static_cast<int64_t>(text.size());
    });
  }
  return size;
}

int64_t FileSize(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? static_cast<int64_t>(status.st_size) : 0;
}

}  // namespace

std::string AttachmentHeaderName(const std::string& path) {
  const std::string name = SafeBaseName(path);
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string FileNameParameter(std::string_view attribute, const std::string& path) {
  const std::string name = SafeBaseName(path);
  const bool plain = name.find("=?") == std::string::npos &&
                     std::all_of(name.begin(), name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 128; });
  if (plain) return std::string(attribute) + "=\"" + AttachmentHeaderName(path) + "\"";
  std::string out(attribute);
  out += message::IsValidUtf8(name) ? "*=UTF-8''" : "*=ISO-8859-1''";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsAttributeChar(byte)) {
      out.push_back(c);
    } else {
      message::HexEscape(byte, out, '%');
    }
  }
  return out;
}

void MessageClient::WriteStuffedLine(std::string_view line) {
  WriteLine(stuffer_.Stuff(line));
  stuffer_.EndLine();
}

void MessageClient::WriteStuffedText(std::string_view text) { WriteText(stuffer_.Stuff(text)); }

int MessageClient::InputWaitLimit() const {
  // A pipe that stays silent is given as long as a stalled server would be.
  return write_timeout().forever() ? -1 : write_timeout().milliseconds();
}

BodyLines MessageClient::BodyOf(const message::Message& message, const BodyLayout& layout) {
  return layout.body_file ? BodyLines(*layout.body_file) : BodyLines(message.body());
}

void MessageClient::OpenBodyFile(const std::string& path, WaitLimit wait_limit) {
  opened_body_file_.reset();
  opened_body_file_ = std::make_shared<message::BodyFile>(
      path, wait_limit.forever() ? -1 : wait_limit.milliseconds(), body_spool_limit_);
}

BodyLayout MessageClient::LayOutBody(const message::Message& message) const {
  std::shared_ptr<message::BodyFile> file = std::move(opened_body_file_);
  if (file && file->path() != message.body_file()) file.reset();
  if (!file && !message.body_file().empty()) {
    file = std::make_shared<message::BodyFile>(message.body_file(), InputWaitLimit(),
                                               body_spool_limit_);
  }
  const BodyLines body = file ? BodyLines(*file) : BodyLines(message.body());
  BodyLayout layout = CountParts(message, body);
  layout.body_file = std::move(file);
  if (!layout.WritesBody()) return layout;
  // Only a body without attachments is converted to ISO-2022-JP, and that text has escape
  // sequences of its own.
  const bool to_jis =
      layout.attachment_count == 0 && SelectHeaderCharset(locale_).transfer == message::txIso2022Jp;
  TextScan scan(to_jis);
  // The lines of a file hold no line ends, so each goes out as one line.
  int64_t as_typed_size = 0;
  EntryJoiner joiner;
  auto start_again = [&] {
    scan = TextScan(to_jis);
    as_typed_size = 0;
    joiner.Clear();
  };
  auto add = [&](std::string_view piece, bool line_ends) {
    scan.AddPiece(piece, line_ends);
    as_typed_size += static_cast<int64_t>(piece.size()) + (line_ends ? 2 : 0);
  };
  if (to_jis) {
    body.ForEach(
        [&](std::string_view piece, bool line_ends) {
          joiner.Add(piece, line_ends,
                     [&](std::string_view line) { add(message::ShiftJisToJis(line), true); });
        },
        start_again);
  } else {
    body.ForEach(add, start_again);
  }
  layout.body = scan.Plan(eight_bit_allowed_);
  if (layout.body_file) layout.body_file_as_typed_size = as_typed_size;
  return layout;
}

int64_t MessageClient::BodyTextSize(const message::Message& message, const BodyLayout& layout,
                                    bool to_jis) const {
  // Counted as the layout looked at the file: it spares a pass over a long body.
  if (layout.body_file && layout.body.form == TextForm::tfAsTyped) {
    return layout.body_file_as_typed_size;
  }
  return TextLinesSize(BodyOf(message, layout), layout.body, to_jis);
}

bool MessageClient::CarriesEightBitText(const message::Message& message,
                                        const BodyLayout& layout) const {
  if (layout.WritesBody()) return layout.body.EightBitOnWire();
  for (size_t i = 0; i < message.parts().count(); ++i) {
    if (auto* text = dynamic_cast<const message::TextPart*>(&message.parts()[i])) {
      if (PlanPassThroughPart(*text).EightBitOnWire()) return true;
    }
  }
  return false;
}

void MessageClient::WriteMessage(const message::Message& message,
                                 const std::optional<std::string>& mail_agent) {
  WriteMessage(message, mail_agent, LayOutBody(message));
}

void MessageClient::WriteMessage(const message::Message& message,
                                 const std::optional<std::string>& mail_agent,
                                 const BodyLayout& layout) {
  WriteHeaderSection(message, mail_agent, layout);
  if (layout.text_count == 1) throw message::TextInvalidCount();
  WriteStuffedLine("");
  WriteBodySection(message, layout);
}

void MessageClient::WriteHeaderSection(const message::Message& message,
                                       const std::optional<std::string>& mail_agent,
                                       const BodyLayout& layout) {
  const ContentFields content = ChooseContentFields(message, layout, locale_);
  const message::HeaderList block = BuildHeaderBlock(message, locale_, content, mail_agent);
  stuffer_ = DotStuffer();
  for (const std::string& line : block) WriteStuffedLine(line);
}

void MessageClient::WriteTextLines(const BodyLines& lines, const TextPlan& plan, bool to_jis) {
  if (plan.form == TextForm::tfQuotedPrintable) {
    EncodeQuotedPrintable(lines, to_jis, coded_,
                          [this](std::string_view text) { WriteStuffedText(text); });
    return;
  }
  auto write = [this](std::string_view piece, bool line_ends) {
    if (line_ends) {
      WriteStuffedLine(piece);
    } else {
      WriteStuffedText(piece);
    }
  };
  if (!lines.MayHoldLineEnds() && !to_jis) {
    lines.ForEach(write);
  } else {
    ForEachWirePiece(lines, to_jis, write);
  }
}

void MessageClient::WriteBodySection(const message::Message& message, const BodyLayout& layout) {
  const message::HeaderTransfer transfer = SelectHeaderCharset(locale_).transfer;
  WorkPhase work(*this, WorkMode::wkWrite);
  if (layout.attachment_count >= 1) {
    WriteStuffedLine(kPreamble);
    WriteStuffedLine("");
    const std::string boundary = Delimiter(layout.Boundary(
        layout.related_count > 0 ? message::kRelatedBoundary : message::kMixedBoundary));
    WriteStuffedLine(boundary);
    if (layout.text_count < 2) {
      const std::string type = BodyTextType(layout.body, locale_, false);
      if (type.empty()) {
        WriteStuffedLine("Content-Type: text/plain");
        WriteStuffedLine("Content-Transfer-Encoding: 7bit");
      } else {
        WriteStuffedLine("Content-Type: " + type);
        WriteStuffedLine(std::string("Content-Transfer-Encoding: ") +
                         (layout.body.form == TextForm::tfQuotedPrintable ? kQuotedPrintable
                                                                          : kUtf8TransferEncoding));
      }
      WriteStuffedLine("");
      // The text part of a multipart body is never converted.
      WriteTextLines(BodyOf(message, layout), layout.body, false);
    } else {
      WriteStuffedLine("Content-Type: multipart/alternative; ");
      WriteStuffedLine(std::string(kParameterIndent) + "boundary=\"" +
                       layout.Boundary(message::kAlternativeBoundary) + "\"");
      WriteStuffedLine("");
      for (size_t i = 0; i < message.parts().count(); ++i) {
        if (auto* text = dynamic_cast<const message::TextPart*>(&message.parts()[i])) {
          WriteStuffedLine(Delimiter(layout.Boundary(message::kAlternativeBoundary)));
          ReportStatus(ConnectionStatus::stText, texts::kEncodingText);
          WriteTextPart(*text, transfer);
        }
      }
      WriteStuffedLine(EndDelimiter(layout.Boundary(message::kAlternativeBoundary)));
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
  } else if (layout.text_count < 2) {
    ReportStatus(ConnectionStatus::stText, texts::kEncodingText);
    WriteTextLines(BodyOf(message, layout), layout.body, transfer == message::txIso2022Jp);
  } else {
    WriteStuffedLine(kPreamble);
    WriteStuffedLine("");
    for (size_t i = 0; i < message.parts().count(); ++i) {
      if (auto* text = dynamic_cast<const message::TextPart*>(&message.parts()[i])) {
        WriteStuffedLine(Delimiter(layout.Boundary(message::kMixedBoundary)));
        ReportStatus(ConnectionStatus::stText, texts::kEncodingText);
        WriteTextPart(*text, transfer);
      }
    }
    WriteStuffedLine(EndDelimiter(layout.Boundary(message::kMixedBoundary)));
  }
}

TextPlan MessageClient::PlanPassThroughPart(const message::TextPart& part) const {
  const std::string type = part.content_type().empty() ? kDefaultTextType : part.content_type();
  const std::string encoding =
      part.content_transfer().empty() ? kDefaultTextTransfer : part.content_transfer();
  const message::CoderItem* row =
      message::FindCoder(type, encoding, message::CoderDirection::kEncoder);
  std::unique_ptr<message::Coder> coder = row->CreateCoder();
  // Only a coder that changes nothing leaves the text to be judged here.
  if (typeid(*coder) != typeid(message::Coder)) return TextPlan{};
  TextScan scan;
  scan.AddAll(part.body());
  return scan.Plan(eight_bit_allowed_);
}

void MessageClient::WriteTextPart(const message::TextPart& part, message::HeaderTransfer transfer) {
  const std::string type = part.content_type().empty() ? kDefaultTextType : part.content_type();
  std::string encoding =
      part.content_transfer().empty() ? kDefaultTextTransfer : part.content_transfer();
  const message::CoderItem* row =
      message::FindCoder(type, encoding, message::CoderDirection::kEncoder);
  std::unique_ptr<message::Coder> coder = row->CreateCoder();
  const bool pass_through = typeid(*coder) == typeid(message::Coder);
  const TextPlan plan = pass_through ? PlanPassThroughPart(part) : TextPlan{};
  if (plan.form == TextForm::tfQuotedPrintable) encoding = kQuotedPrintable;
  if (auto* quoted = dynamic_cast<message::QuotedPrintableEncoder*>(coder.get())) {
    // Lines that the encoder emits whole stay as they are while SMTP can carry them.
    const bool fits = std::all_of(part.body().begin(), part.body().end(), [](const std::string& l) {
      return message::QuotedPrintableLength(l) <= kMaxEncodedLine;
    });
    quoted->set_wrap_long_lines(!fits);
  }
  coder->set_discard_notices(true);
  WriteStuffedLine("Content-Type: " + type);
  WriteStuffedLine("Content-Transfer-Encoding: " + encoding);
  for (const std::string& line : part.extra_headers()) WriteStuffedLine(line);
  WriteStuffedLine("");
  if (pass_through) {
    WriteTextLines(BodyLines(part.body()), plan, transfer == message::txIso2022Jp);
  } else {
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
  // UU and XX write a whole file (header, data lines, end) per finish; every other coder is
  // finished after each piece, which makes one line of it.
  const bool finish_per_file = dynamic_cast<message::UUEncoder*>(coder.get()) != nullptr;
  if (finish_per_file) coder->set_file_name(UuFileName(part.file_name()));

  message::InputFile source(part.file_name(), InputWaitLimit());
  WriteStuffedLine("Content-Type: " + type + ";");
  WriteStuffedLine(std::string(kParameterIndent) + FileNameParameter("name", part.file_name()));
  WriteStuffedLine("Content-Transfer-Encoding: " + encoding);
  WriteStuffedLine("Content-Disposition: " + disposition + ";");
  WriteStuffedLine(std::string(kParameterIndent) + FileNameParameter("filename", part.file_name()));
  for (const std::string& line : part.extra_headers()) WriteStuffedLine(line);
  WriteStuffedLine("");

  // The encoded text goes straight to the connection: a file that fails half-way ends the send
  // with the connection closed and no final ".", so the server never takes the part for whole.
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
    if (finish_per_file) {
      coder->Feed(std::string_view(file_area_.data(), got), coded_);
    } else {
      for (size_t at = 0; at < got; at += kPieceSize) {
        const size_t length = std::min(kPieceSize, got - at);
        coder->Feed(std::string_view(file_area_.data() + at, length), coded_);
        coder->FinishInput(coded_);
      }
    }
    if (coded_.size() >= kCodedBlock) {
      WriteStuffedText(coded_);
      coded_.clear();
    }
  }
  if (finish_per_file) coder->FinishInput(coded_);
  WriteStuffedText(coded_);
  coded_.clear();
  WriteStuffedLine("");
}

int64_t MessageClient::TextPartSize(const message::TextPart& part) const {
  const std::string type = part.content_type().empty() ? kDefaultTextType : part.content_type();
  std::string encoding =
      part.content_transfer().empty() ? kDefaultTextTransfer : part.content_transfer();
  const message::CoderItem* row =
      message::FindCoder(type, encoding, message::CoderDirection::kEncoder);
  const std::unique_ptr<message::Coder> coder = row->CreateCoder();
  const bool pass_through = typeid(*coder) == typeid(message::Coder);
  const TextPlan plan = pass_through ? PlanPassThroughPart(part) : TextPlan{};
  if (plan.form == TextForm::tfQuotedPrintable) encoding = kQuotedPrintable;
  int64_t size = LineSize("Content-Type: " + type) +
                 LineSize("Content-Transfer-Encoding: " + encoding) + LineSize("");
  for (const std::string& line : part.extra_headers()) size += LineSize(line);
  if (pass_through) {
    size += TextLinesSize(BodyLines(part.body()), plan, false);
  } else {
    // Any other coder is counted as quoted-printable, the text coder that changes the least.
    size +=
        TextLinesSize(BodyLines(part.body()), TextPlan{.form = TextForm::tfQuotedPrintable}, false);
  }
  return size + LineSize("");
}

int64_t MessageClient::MessageSize(const message::Message& message,
                                   const std::optional<std::string>& mail_agent,
                                   const BodyLayout& layout) const {
  const ContentFields content = ChooseContentFields(message, layout, locale_);
  int64_t size = 0;
  for (const std::string& line : BuildHeaderBlock(message, locale_, content, mail_agent)) {
    size += LineSize(line);
  }
  size += LineSize("");
  const message::HeaderTransfer transfer = SelectHeaderCharset(locale_).transfer;
  auto each_part = [&message](auto take) {
    for (size_t i = 0; i < message.parts().count(); ++i) take(message.parts()[i]);
  };
  if (layout.attachment_count >= 1) {
    const std::string boundary = Delimiter(layout.Boundary(
        layout.related_count > 0 ? message::kRelatedBoundary : message::kMixedBoundary));
    size += LineSize(kPreamble) + LineSize("") + LineSize(boundary);
    if (layout.text_count < 2) {
      const std::string type = BodyTextType(layout.body, locale_, false);
      if (type.empty()) {
        size += LineSize("Content-Type: text/plain") + LineSize("Content-Transfer-Encoding: 7bit");
      } else {
        size += LineSize("Content-Type: " + type) +
                LineSize(std::string("Content-Transfer-Encoding: ") +
                         (layout.body.form == TextForm::tfQuotedPrintable ? kQuotedPrintable
                                                                          : kUtf8TransferEncoding));
      }
      size += LineSize("") + BodyTextSize(message, layout, false);
    } else {
      size += LineSize("Content-Type: multipart/alternative; ") +
              LineSize(std::string(kParameterIndent) + "boundary=\"" +
                       layout.Boundary(message::kAlternativeBoundary) + "\"") +
              LineSize("");
      each_part([&](const message::MessagePart& part) {
        if (auto* text = dynamic_cast<const message::TextPart*>(&part)) {
          size += LineSize(Delimiter(layout.Boundary(message::kAlternativeBoundary))) +
                  TextPartSize(*text);
        }
      });
      size += LineSize(EndDelimiter(layout.Boundary(message::kAlternativeBoundary)));
    }
    each_part([&](const message::MessagePart& part) {
      auto* attachment = dynamic_cast<const message::Attachment*>(&part);
      if (attachment == nullptr) return;
      const std::string encoding = attachment->content_transfer().empty()
                                       ? kDefaultAttachmentTransfer
                                       : attachment->content_transfer();
      const std::string disposition = attachment->content_disposition().empty()
                                          ? kDefaultDisposition
                                          : attachment->content_disposition();
      std::string type = attachment->content_type();
      if (encoding == kDefaultAttachmentTransfer && type.empty()) type = kDefaultAttachmentType;
      const std::string& path = attachment->file_name();
      size += LineSize("") + LineSize(boundary) + LineSize("Content-Type: " + type + ";") +
              LineSize(std::string(kParameterIndent) + FileNameParameter("name", path)) +
              LineSize("Content-Transfer-Encoding: " + encoding) +
              LineSize("Content-Disposition: " + disposition + ";") +
              LineSize(std::string(kParameterIndent) + FileNameParameter("filename", path));
      for (const std::string& line : attachment->extra_headers()) size += LineSize(line);
      size += LineSize("") + Base64Size(FileSize(path)) + LineSize("");
    });
    size += LineSize(boundary + "--");
  } else if (layout.text_count < 2) {
    size += BodyTextSize(message, layout, transfer == message::txIso2022Jp);
  } else {
    size += LineSize(kPreamble) + LineSize("");
    each_part([&](const message::MessagePart& part) {
      if (auto* text = dynamic_cast<const message::TextPart*>(&part)) {
        size += LineSize(Delimiter(layout.Boundary(message::kMixedBoundary))) + TextPartSize(*text);
      }
    });
    size += LineSize(EndDelimiter(layout.Boundary(message::kMixedBoundary)));
  }
  return size;
}

}  // namespace tovrel::net
