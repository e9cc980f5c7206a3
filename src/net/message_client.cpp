#include "net/message_client.h"

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string_view>
#include <typeinfo>
#include <variant>
#include <vector>

#include "message/body_file.h"
#include "message/coders/base64.h"
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
// Wire lines made of runs of text lines collect in an area of this size, and go out from it in
// blocks of kCodedBlock bytes or more: room for the longest run a body file hands on.
constexpr size_t kRunArea = 2 * kCodedBlock;

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

// What the writer needs to know of the coder that a part's fields name.
struct CoderChoice {
  const message::CoderItem* row;
  bool pass_through;  // changes nothing, so the text is judged by its scan
  bool quoted_printable;
  bool base64;
  bool whole_file;  // UU and XX
};

CoderChoice ChoiceOf(const message::CoderItem* row) {
  const std::unique_ptr<message::Coder> made = row->CreateCoder();
  const message::Coder& coder = *made;
  return {row, typeid(coder) == typeid(message::Coder),
          dynamic_cast<const message::QuotedPrintableEncoder*>(&coder) != nullptr,
          dynamic_cast<const message::Base64Encoder*>(&coder) != nullptr,
          dynamic_cast<const message::UUEncoder*>(&coder) != nullptr};
}

CoderChoice ChooseCoder(std::string_view type, std::string_view encoding) {
  return ChoiceOf(message::FindCoder(type, encoding, message::CoderDirection::kEncoder));
}

// `name` as it may stand between double quotes.
void AppendQuotable(std::string_view name, std::string& out) {
  for (const char c : name) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
}

// What follows the attribute of each file name parameter: ="name" both; for a name beyond ASCII
// the RFC 2231 form in `filename`, which readers of today take first, and encoded words within
// the quotes of `name`, the one form older readers know.
struct FileNameValues {
  std::string name;
  std::string filename;
};

FileNameValues FileNameValuesOf(const std::string& path) {
  const std::string name = SafeBaseName(path);
  const bool plain = name.find("=?") == std::string::npos &&
                     std::all_of(name.begin(), name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 128; });
  std::string out;
  if (plain) {
    out.reserve(name.size() + 3);
    out.append("=\"");
    AppendQuotable(name, out);
    out.push_back('"');
    return {out, out};
  }
  const bool utf8 = message::IsValidUtf8(name);
  out = utf8 ? "*=UTF-8''" : "*=ISO-8859-1''";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsAttributeChar(byte)) {
      out.push_back(c);
    } else {
      message::HexEscape(byte, out, '%');
    }
  }
  // One line: a fold inside quotes is read as part of the name by some. A name of at most 255
  // bytes stays far below the line's limit.
  std::string words = message::EncodeWholeText(name, 'B', utf8 ? "UTF-8" : "ISO-8859-1");
  for (size_t fold; (fold = words.find("\r\n\t")) != std::string::npos;) {
    words.replace(fold, 3, " ");
  }
  return {"=\"" + words + "\"", std::move(out)};
}

}  // namespace

std::string AttachmentHeaderName(const std::string& path) {
  const std::string name = SafeBaseName(path);
  std::string out;
  out.reserve(name.size());
  AppendQuotable(name, out);
  return out;
}

std::string FileNameParameter(std::string_view attribute, const std::string& path) {
  FileNameValues values = FileNameValuesOf(path);
  return std::string(attribute) + (attribute == "name" ? values.name : values.filename);
}

namespace {

// Where the text of a plan goes: the connection, or only a count. Either way it passes the
// dot-stuffer, so that the count holds the dots the connection gets.
class Output {
 public:
  Output(DotStuffer& stuffer, MessageClient* connection, std::string& coded,
         std::vector<char>& file_area, std::string& held)
      : coded(coded),
        file_area(file_area),
        held_(held),
        stuffer_(stuffer),
        connection_(connection) {
    held_.clear();  // what a failed write left
  }

  void Text(std::string_view text) {
    text = stuffer_.Stuff(text);
    if (Joins(text.size())) {
      held_.append(text);
      return;
    }
    Release();
    Send(text);
  }
  void Line(std::string_view line) {
    line = stuffer_.Stuff(line);
    stuffer_.EndLine();
    if (Joins(line.size() + 2)) {
      held_.append(line).append("\r\n");
      return;
    }
    Release();
    if (connection_ != nullptr) {
      connection_->WriteLine(line);
    } else {
      bytes_ += static_cast<int64_t>(line.size()) + 2;
    }
  }
  // Whole lines, ended by CR LF and stuffed already.
  void Stuffed(std::string_view lines) {
    Release();
    Send(lines);
    stuffer_.EndLine();
  }
  bool AtLineStart() const { return stuffer_.at_line_start(); }
  void Status(const char* text) {
    if (connection_ != nullptr) connection_->ReportStatus(ConnectionStatus::stText, text);
  }
  void StartAfresh() { stuffer_ = DotStuffer(); }
  bool counting() const { return connection_ == nullptr; }
  // Bytes counted without going through the stuffer: text known to hold no line beginning with
  // a dot, or counted with its dots already.
  void Add(int64_t bytes) { bytes_ += bytes; }
  int64_t bytes() const { return bytes_; }

  // Text held back to go out with what follows, so that the parts of many small files reach
  // the connection in blocks as large as those of one large file, and a coder writes into it
  // directly. Lines and text that follow held text join it.
  std::string& held() { return held_; }
  void HoldLine(std::string_view line) {
    const size_t start = held_.size();
    held_.append(line);
    StuffHeld(start);
    held_.append("\r\n");
    stuffer_.EndLine();
  }
  // What was added to the held text from `start` on passes the stuffer.
  void StuffHeld(size_t start) {
    const std::string_view added = std::string_view(held_).substr(start);
    const std::string_view stuffed = stuffer_.Stuff(added);
    if (stuffed.data() == added.data()) return;
    held_.resize(start);
    held_.append(stuffed);
  }
  void ReleaseIfFull() {
    if (held_.size() >= kCodedBlock) Release();
  }
  void Release() {
    if (held_.empty()) return;
    Send(held_);
    held_.clear();
  }

  // Reused for every part so that long messages do not allocate per piece.
  std::string& coded;
  std::vector<char>& file_area;

 private:
  bool Joins(size_t size) const { return !held_.empty() && held_.size() + size < kCodedBlock; }
  void Send(std::string_view text) {
    if (connection_ != nullptr) {
      connection_->WriteText(text);
    } else {
      bytes_ += static_cast<int64_t>(text.size());
    }
  }

  std::string& held_;
  DotStuffer& stuffer_;
  MessageClient* connection_;
  int64_t bytes_ = 0;
};

void RunText(const MessagePlan::Text& text, Output& out) {
  if (out.counting() && text.known_size >= 0) {
    out.Add(text.known_size);
    return;
  }
  if (text.plan.form == TextForm::tfQuotedPrintable) {
    EncodeQuotedPrintable(text.lines, text.to_jis, out.coded,
                          [&out](std::string_view coded) { out.Text(coded); });
    return;
  }
  if (text.to_jis) {
    ForEachWirePiece(text.lines, true, [&out](std::string_view piece, bool line_ends) {
      if (line_ends) {
        out.Line(piece);
      } else {
        out.Text(piece);
      }
    });
    return;
  }
  // Runs of whole lines become wire lines in one go, gathered into blocks that go out whole.
  std::string& area = out.coded;
  size_t used = 0;
  auto flush = [&] {
    if (used == 0) return;
    out.Stuffed(std::string_view(area.data(), used));
    used = 0;
  };
  text.lines.ForEachRun([&](std::string_view piece, bool line_ends) {
    if (!line_ends) {
      // Of a line too long for a run: it goes out as it comes.
      flush();
      out.Text(piece);
      return;
    }
    const size_t bound = WireLinesBound(piece.size());
    if (bound > kRunArea) {
      // An entry held in memory longer than a run of a file: line by line, without a copy.
      flush();
      ForEachWireLine(piece, [&out](std::string_view line) { out.Line(line); });
      return;
    }
    if (used + bound > area.size()) {
      flush();
      area.resize(kRunArea);
    }
    used += WriteWireLines(piece, used > 0 || out.AtLineStart(), area.data() + used);
    if (used >= kCodedBlock) flush();
  });
  flush();
}

void RunCodedText(const MessagePlan::CodedText& text, Output& out) {
  const std::unique_ptr<message::Coder> coder = text.coder->CreateCoder();
  if (text.quoted_printable) {
    static_cast<message::QuotedPrintableEncoder&>(*coder).set_wrap_long_lines(text.wrap_long_lines);
  }
  coder->set_discard_notices(true);
  std::string piece;
  for (const std::string& line : *text.lines) {
    piece.assign(line);
    piece.append("\r\n");
    out.coded.clear();
    coder->Feed(piece, out.coded);
    coder->FinishInput(out.coded);
    out.Text(text.to_jis ? message::ShiftJisToJis(out.coded) : out.coded);
  }
}

void RunFile(const MessagePlan::File& file, Output& out) {
  if (out.counting()) {
    // Counting comes before the first command: a file that cannot be sent is refused here.
    const message::PathLook look = file.look ? *file.look : message::LookAtPath(file.path);
    message::CheckInputFile(file.path, look);
    // A pipe cannot be read ahead; it counts as empty.
    if (file.base64 || !look.regular) {
      for (const std::string& line : file.header) out.Line(line);
      out.Add(Base64Size(look.regular ? look.size : 0));
      out.Line("");
      return;
    }
  }
  const std::unique_ptr<message::Coder> coder = file.coder->CreateCoder();
  coder->set_discard_notices(true);
  coder->set_append_line_break(true);
  if (file.whole_file) coder->set_file_name(UuFileName(file.path));
  message::InputFile source(file.path, file.wait_limit_ms, file.look ? &*file.look : nullptr);
  for (const std::string& line : file.header) out.HoldLine(line);

  // The encoded text goes straight to the connection: a file that fails half-way ends the send
  // with the connection closed and no final ".", so the server never takes the part for whole.
  std::vector<char>& area = out.file_area;
  std::string& held = out.held();
  area.resize(kFileBlock);
  // Room for a full block of held text and the coded form of one more read, which is all it
  // ever holds: it grows once, not by doubling.
  held.reserve(kCodedBlock + 2 * kFileBlock);
  bool at_end = false;
  while (!at_end) {
    // Fill the block completely so that every piece but the file's last is a whole one.
    size_t got = 0;
    while (got < kFileBlock) {
      const size_t n = source.Read(std::span<char>(area.data() + got, kFileBlock - got));
      // The end is not asked for twice: a file is read once.
      at_end = n == 0;
      if (at_end) break;
      got += n;
      at_end = source.AllRead();
      if (at_end) break;
    }
    if (got == 0) break;
    const size_t start = held.size();
    if (file.whole_file) {
      coder->Feed(std::string_view(area.data(), got), held);
    } else {
      // Every other coder is finished after each piece, which makes one line of it.
      coder->FeedEachFinished(std::string_view(area.data(), got), kPieceSize, held);
    }
    out.StuffHeld(start);
    out.ReleaseIfFull();
  }
  if (file.whole_file) {
    const size_t start = held.size();
    coder->FinishInput(held);
    out.StuffHeld(start);
  }
  out.HoldLine("");
}

void RunBody(const std::vector<MessagePlan::Step>& steps, Output& out) {
  try {
    for (const MessagePlan::Step& step : steps) {
      if (const auto* line = std::get_if<MessagePlan::Line>(&step)) {
        out.Line(line->text);
      } else if (const auto* status = std::get_if<MessagePlan::Status>(&step)) {
        out.Status(status->text);
      } else if (const auto* text = std::get_if<MessagePlan::Text>(&step)) {
        RunText(*text, out);
      } else if (const auto* coded = std::get_if<MessagePlan::CodedText>(&step)) {
        RunCodedText(*coded, out);
      } else {
        RunFile(std::get<MessagePlan::File>(step), out);
      }
    }
  } catch (const message::FileError&) {
    // What came before a file that failed goes out, as it would have without holding.
    try {
      out.Release();
    } catch (...) {  // the file's failure is the one to report
    }
    throw;
  }
  out.Release();
}

}  // namespace

bool MessagePlan::CarriesEightBitText() const {
  return std::any_of(body_.begin(), body_.end(), [](const Step& step) {
    const auto* text = std::get_if<Text>(&step);
    return text != nullptr && text->plan.EightBitOnWire();
  });
}

int MessageClient::InputWaitLimit() const {
  // A pipe that stays silent is given as long as a stalled server would be.
  return write_timeout().forever() ? -1 : write_timeout().milliseconds();
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
  opened_body_file_ = file;
  const BodyLines body = file ? BodyLines(*file) : BodyLines(message.body());
  BodyLayout layout = CountParts(message);
  layout.body_file = std::move(file);
  // The boundary search rides along with the scan, with a suffix chosen ahead in case the bare
  // boundaries are met.
  DelimiterWatch watch(layout.HasBoundaries() ? RandomBoundarySuffix() : std::string());
  if (layout.WritesBody()) {
    // Only a body without attachments is converted to ISO-2022-JP, and that text has escape
    // sequences of its own.
    const bool to_jis = layout.attachment_count == 0 &&
                        SelectHeaderCharset(locale_).transfer == message::txIso2022Jp;
    TextScan scan(to_jis);
    EntryJoiner joiner;
    auto watch_lines = [&] {
      // Converted text goes out only as a body without parts, with no delimiter to avoid.
      if (!to_jis)
        scan.set_dash_lines([&watch](std::string_view line) { watch.AddPiece(line, true); });
    };
    watch_lines();
    auto start_again = [&] {
      scan = TextScan(to_jis);
      watch_lines();
      joiner.Clear();
      watch.Clear();
    };
    if (to_jis) {
      body.ForEach(
          [&](std::string_view piece, bool line_ends) {
            joiner.Add(piece, line_ends,
                       [&](std::string_view line) { scan.Add(message::ShiftJisToJis(line)); });
          },
          start_again);
    } else {
      body.ForEachRun(
          [&](std::string_view piece, bool line_ends) { scan.AddPiece(piece, line_ends); },
          start_again);
    }
    layout.body = scan.Plan(eight_bit_allowed_);
    if (layout.body_file) layout.body_file_as_typed_size = scan.wire_size();
  }
  if (layout.HasBoundaries()) {
    layout.boundary_suffix =
        ChooseBoundarySuffix(message, watch, layout.WritesBody() ? &body : nullptr);
  }
  return layout;
}

MessagePlan MessageClient::PlanMessage(const message::Message& message,
                                       const std::optional<std::string>& mail_agent,
                                       BodyLayout layout) const {
  MessagePlan plan;
  plan.header_ = PlanHeader(message, mail_agent, layout);
  plan.body_ = PlanBody(message, layout);
  plan.layout_ = std::move(layout);
  return plan;
}

message::StringList MessageClient::PlanHeader(const message::Message& message,
                                              const std::optional<std::string>& mail_agent,
                                              const BodyLayout& layout) const {
  const ContentFields content = ChooseContentFields(message, layout, locale_);
  return BuildHeaderBlock(message, locale_, content, mail_agent).lines();
}

std::vector<MessagePlan::Step> MessageClient::PlanBody(const message::Message& message,
                                                       const BodyLayout& layout) const {
  const bool to_jis = SelectHeaderCharset(locale_).transfer == message::txIso2022Jp;
  std::vector<MessagePlan::Step> steps;
  auto line = [&steps](std::string text) {
    steps.emplace_back(MessagePlan::Line{std::move(text)});
  };
  auto text_parts = [&](const std::string& boundary) {
    for (size_t i = 0; i < message.parts().count(); ++i) {
      if (const message::TextPart* text = message.parts()[i].AsText()) {
        line(Delimiter(boundary));
        steps.emplace_back(MessagePlan::Status{texts::kEncodingText});
        PlanTextPart(*text, to_jis, steps);
      }
    }
    line(EndDelimiter(boundary));
  };
  // A body file that goes out as typed was counted as its layout looked at it: it spares a pass.
  auto body_text = [&](bool converted) {
    const bool counted = layout.body_file && layout.body.form == TextForm::tfAsTyped;
    steps.emplace_back(MessagePlan::Text{
        layout.body_file ? BodyLines(*layout.body_file) : BodyLines(message.body()), layout.body,
        converted, counted ? layout.body_file_as_typed_size : -1});
  };
  if (layout.attachment_count >= 1) {
    line(kPreamble);
    line("");
    const std::string boundary = Delimiter(layout.Boundary(
        layout.related_count > 0 ? message::kRelatedBoundary : message::kMixedBoundary));
    line(boundary);
    if (layout.text_count < 2) {
      const std::string type = BodyTextType(layout.body, locale_, false);
      if (type.empty()) {
        line("Content-Type: text/plain");
        line("Content-Transfer-Encoding: 7bit");
      } else {
        line("Content-Type: " + type);
        line(std::string("Content-Transfer-Encoding: ") +
             (layout.body.form == TextForm::tfQuotedPrintable ? kQuotedPrintable
                                                              : kUtf8TransferEncoding));
      }
      line("");
      // The text part of a multipart body is never converted.
      body_text(false);
    } else {
      line("Content-Type: multipart/alternative; ");
      line(std::string(kParameterIndent) + "boundary=\"" +
           layout.Boundary(message::kAlternativeBoundary) + "\"");
      line("");
      text_parts(layout.Boundary(message::kAlternativeBoundary));
    }
    size_t previous = 0;  // the step of the last attachment, if not 0
    for (size_t i = 0; i < message.parts().count(); ++i) {
      if (const message::Attachment* attachment = message.parts()[i].AsAttachment()) {
        line("");
        line(boundary);
        steps.emplace_back(MessagePlan::Status{texts::kEncodingAttachment});
        steps.push_back(PlanAttachment(
            *attachment, previous == 0 ? nullptr : &std::get<MessagePlan::File>(steps[previous])));
        previous = steps.size() - 1;
      }
    }
    line(boundary + "--");
  } else if (layout.text_count < 2) {
    steps.emplace_back(MessagePlan::Status{texts::kEncodingText});
    body_text(to_jis);
  } else {
    line(kPreamble);
    line("");
    text_parts(layout.Boundary(message::kMixedBoundary));
  }
  return steps;
}

void MessageClient::PlanTextPart(const message::TextPart& part, bool to_jis,
                                 std::vector<MessagePlan::Step>& steps) const {
  const std::string type = part.content_type().empty() ? kDefaultTextType : part.content_type();
  std::string encoding =
      part.content_transfer().empty() ? kDefaultTextTransfer : part.content_transfer();
  const CoderChoice coder = ChooseCoder(type, encoding);
  MessagePlan::Step content;
  if (coder.pass_through) {
    // Only a coder that changes nothing leaves the text to be judged here.
    TextScan scan;
    scan.AddAll(part.body());
    const TextPlan plan = scan.Plan(eight_bit_allowed_);
    if (plan.form == TextForm::tfQuotedPrintable) encoding = kQuotedPrintable;
    content = MessagePlan::Text{BodyLines(part.body()), plan, to_jis, -1};
  } else {
    // Lines that the encoder emits whole stay as they are while SMTP can carry them.
    const bool fits = std::all_of(part.body().begin(), part.body().end(), [](const std::string& l) {
      return message::QuotedPrintableLength(l) <= kMaxEncodedLine;
    });
    content = MessagePlan::CodedText{&part.body(), coder.row, coder.quoted_printable,
                                     coder.quoted_printable && !fits, to_jis};
  }
  steps.emplace_back(MessagePlan::Line{"Content-Type: " + type});
  steps.emplace_back(MessagePlan::Line{"Content-Transfer-Encoding: " + encoding});
  for (const std::string& line : part.extra_headers()) steps.emplace_back(MessagePlan::Line{line});
  steps.emplace_back(MessagePlan::Line{""});
  steps.push_back(std::move(content));
  steps.emplace_back(MessagePlan::Line{""});
}

MessagePlan::File MessageClient::PlanAttachment(const message::Attachment& part,
                                                const MessagePlan::File* previous) const {
  std::string encoding = part.content_transfer();
  if (encoding.empty()) encoding = kDefaultAttachmentTransfer;
  std::string disposition = part.content_disposition();
  if (disposition.empty()) disposition = kDefaultDisposition;
  std::string type = part.content_type();
  // The lookup sees the content type as the caller left it, before the default below. What a
  // row's coder is takes making one to find out; the attachments of a message mostly share one.
  const message::CoderItem* row =
      message::FindCoder(type, encoding, message::CoderDirection::kEncoder);
  const CoderChoice coder =
      previous != nullptr && previous->coder == row
          ? CoderChoice{row, false, false, previous->base64, previous->whole_file}
          : ChoiceOf(row);
  if (encoding == kDefaultAttachmentTransfer && type.empty()) type = kDefaultAttachmentType;
  const std::string& path = part.file_name();
  const FileNameValues name = FileNameValuesOf(path);
  const message::HeaderList& extra = part.extra_headers();
  message::StringList header;
  header.reserve(6 + extra.count());
  header.push_back("Content-Type: " + type + ";");
  header.push_back(kParameterIndent + ("name" + name.name));
  header.push_back("Content-Transfer-Encoding: " + encoding);
  header.push_back("Content-Disposition: " + disposition + ";");
  header.push_back(kParameterIndent + ("filename" + name.filename));
  header.insert(header.end(), extra.begin(), extra.end());
  header.emplace_back();
  return {path,         std::move(header), coder.row,
          coder.base64, coder.whole_file,  InputWaitLimit(),
          part.look()};
}

namespace {

// The header lines start the stuffing afresh.
void RunHeader(const message::StringList& header, Output& out) {
  out.StartAfresh();
  for (const std::string& line : header) out.Line(line);
}

}  // namespace

void MessageClient::WriteMessage(const message::Message& message,
                                 const std::optional<std::string>& mail_agent) {
  WriteMessage(message, mail_agent, LayOutBody(message));
}

void MessageClient::WriteMessage(const message::Message& message,
                                 const std::optional<std::string>& mail_agent,
                                 const BodyLayout& layout) {
  WriteMessage(PlanMessage(message, mail_agent, layout));
}

void MessageClient::WriteMessage(const MessagePlan& plan) {
  Output out(stuffer_, this, coded_, file_area_, held_);
  RunHeader(plan.header_, out);
  if (plan.layout_.text_count == 1) throw message::TextInvalidCount();
  out.Line("");
  WriteBody(plan.body_);
}

void MessageClient::WriteHeaderSection(const message::Message& message,
                                       const std::optional<std::string>& mail_agent,
                                       const BodyLayout& layout) {
  Output out(stuffer_, this, coded_, file_area_, held_);
  RunHeader(PlanHeader(message, mail_agent, layout), out);
}

void MessageClient::WriteBodySection(const message::Message& message, const BodyLayout& layout) {
  WriteBody(PlanBody(message, layout));
}

void MessageClient::WriteBody(const std::vector<MessagePlan::Step>& steps) {
  WorkPhase work(*this, WorkMode::wkWrite);
  Output out(stuffer_, this, coded_, file_area_, held_);
  RunBody(steps, out);
}

int64_t MessageClient::MessageSize(const MessagePlan& plan) const {
  DotStuffer stuffer;
  std::string coded;
  std::vector<char> file_area;
  std::string held;
  Output out(stuffer, nullptr, coded, file_area, held);
  RunHeader(plan.header_, out);
  out.Line("");
  RunBody(plan.body_, out);
  return out.bytes();
}

int64_t MessageClient::MessageSize(const message::Message& message,
                                   const std::optional<std::string>& mail_agent,
                                   const BodyLayout& layout) const {
  return MessageSize(PlanMessage(message, mail_agent, layout));
}

}  // namespace tovrel::net
