#include "net/header_block.h"

#include <random>
#include <string_view>

#include "message/header_generation.h"

namespace tovrel::net {

namespace {

// The generated fields that come before the content fields, as NameAt gives their names.
constexpr std::string_view kFieldsBeforeContent[] = {"FROM", "SUBJECT", "TO", "CC", "NEWSGROUPS"};

bool IsContinuation(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

bool LeadsContent(const std::string& name) {
  for (std::string_view before : kFieldsBeforeContent) {
    if (name == before) return true;
  }
  return false;
}

bool IsContentField(const std::string& name) {
  return name == "CONTENT-TYPE" || name == "MIME-VERSION" || name == "CONTENT-TRANSFER-ENCODING";
}

const char* const kBoundaries[] = {message::kMixedBoundary, message::kRelatedBoundary,
                                   message::kAlternativeBoundary};
constexpr size_t kSuffixLength = 16;

// Whether `line` starts with "--" and a boundary with `suffix`.
bool IsDelimiter(std::string_view line, const std::string& suffix) {
  if (!line.starts_with("--")) return false;
  const std::string_view rest = line.substr(2);
  for (const char* base : kBoundaries) {
    if (rest.starts_with(base) && rest.substr(std::string_view(base).size()).starts_with(suffix)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string RandomBoundarySuffix() {
  static constexpr char kChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device source;
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  std::string suffix = "_";
  for (size_t i = 0; i < kSuffixLength; ++i) suffix.push_back(kChars[pick(source)]);
  return suffix;
}

void DelimiterWatch::AddPiece(std::string_view piece, bool line_ends) {
  if (line_start_ && piece.starts_with("--")) {
    bare_ = bare_ || IsDelimiter(piece, {});
    suffixed_ = suffixed_ || IsDelimiter(piece, suffix_);
  }
  line_start_ = line_ends;
}

void DelimiterWatch::AddAll(const BodyLines& lines) {
  lines.ForEach(
      [&](std::string_view piece, bool line_ends) {
        if (!lines.MayHoldLineEnds()) {
          AddPiece(piece, line_ends);
          return;
        }
        ForEachWireLine(piece, [&](std::string_view line) { AddPiece(line, true); });
      },
      [&] { Clear(); });
}

BodyLayout CountParts(const message::Message& message) {
  BodyLayout layout;
  for (size_t i = 0; i < message.parts().count(); ++i) {
    const message::MessagePart& part = message.parts()[i];
    if (part.AsText() != nullptr) {
      ++layout.text_count;
    } else if (part.AsAttachment() != nullptr) {
      ++layout.attachment_count;
      if (!part.extra_headers().ValueOf("Content-ID").empty()) ++layout.related_count;
    }
  }
  return layout;
}

std::string ChooseBoundarySuffix(const message::Message& message, const DelimiterWatch& body_watch,
                                 const BodyLines* body) {
  auto watch_parts = [&message](DelimiterWatch& watch) {
    for (size_t i = 0; i < message.parts().count(); ++i) {
      if (const message::TextPart* text = message.parts()[i].AsText()) {
        watch.AddAll(BodyLines(text->body()));
      }
    }
  };
  DelimiterWatch parts(body_watch.suffix());
  watch_parts(parts);
  if (!body_watch.bare() && !parts.bare()) return {};
  if (!body_watch.suffixed() && !parts.suffixed()) return body_watch.suffix();
  // Met by the suffix chosen ahead as well: each next one takes a search of its own.
  for (;;) {
    DelimiterWatch watch(RandomBoundarySuffix());
    if (body != nullptr) watch.AddAll(*body);
    watch_parts(watch);
    if (!watch.suffixed()) return watch.suffix();
  }
}

std::string BodyTextType(const TextPlan& body, const message::LocaleInfo& locale,
                         bool converted_to_jis) {
  if (body.form == TextForm::tfQuotedPrintable) {
    return "text/plain; charset=" + BodyCharset(locale, converted_to_jis);
  }
  // Without this a reader guesses the character set of the typed text, and usually guesses
  // wrong. A body of plain ASCII keeps the bare defaults.
  if (body.eight_bit && locale.IsUtf8()) return kUtf8TextType;
  return {};
}

ContentFields ChooseContentFields(const message::Message& message, const BodyLayout& layout,
                                  const message::LocaleInfo& locale) {
  ContentFields fields;
  std::string type = message.content_type();
  if (layout.related_count > 0) {
    type = std::string("multipart/related; type=\"multipart/alternative\"; boundary=\"") +
           layout.Boundary(message::kRelatedBoundary) + "\"";
  } else if (layout.attachment_count > 0) {
    type = std::string("multipart/mixed; boundary=\"") + layout.Boundary(message::kMixedBoundary) +
           "\"";
  } else if (layout.text_count > 0) {
    type = std::string("multipart/alternative; boundary=\"") +
           layout.Boundary(message::kMixedBoundary) + "\"";
  }
  fields.content_type = type.empty() ? message.char_set() : type + ";" + message.char_set();
  fields.transfer_encoding = message.content_transfer_encoding();
  if (!message.parts().empty()) {
    fields.mime_version = MimeVersion::mvWithContentFields;
    return fields;
  }
  const bool converted_to_jis =
      message::SelectHeaderCharset(locale).transfer == message::txIso2022Jp;
  const std::string body_type = BodyTextType(layout.body, locale, converted_to_jis);
  if (layout.body.form == TextForm::tfQuotedPrintable) {
    // The text is not what it was typed as: the reader must be told how to undo the encoding.
    if (fields.content_type.empty()) fields.content_type = body_type;
    fields.transfer_encoding = kQuotedPrintable;
    fields.mime_version = MimeVersion::mvWithContentFields;
  } else if (!body_type.empty() && fields.content_type.empty() &&
             fields.transfer_encoding.empty()) {
    // Such a message has always carried its MIME-Version after the extra fields; readers take
    // the fields in any order.
    fields.content_type = body_type;
    fields.transfer_encoding = kUtf8TransferEncoding;
    fields.mime_version = MimeVersion::mvAfterExtraFields;
  }
  return fields;
}

message::HeaderList BuildHeaderBlock(const message::Message& message,
                                     const message::LocaleInfo& locale,
                                     const ContentFields& content,
                                     const std::optional<std::string>& mail_agent) {
  // The generated block ends with the message's extra fields, line for line. Its content
  // fields show the message as the caller left it: the chosen ones stand in their place, after
  // the leading address, subject and newsgroup fields.
  const message::HeaderList generated = message::BuildHeaderList(message, locale);
  const size_t own_end = generated.count() - message.extra_headers().count();
  message::HeaderList content_lines;
  content_lines.SetHeader("Content-Type", content.content_type);
  if (content.mime_version == MimeVersion::mvWithContentFields) {
    content_lines.SetHeader("MIME-Version", "1.0");
  }
  content_lines.SetHeader("Content-Transfer-Encoding", content.transfer_encoding);
  message::StringList lines;
  lines.reserve(own_end + content_lines.count());
  bool placed = false;
  bool skipping = false;  // a generated content field, with its continuation lines
  for (size_t i = 0; i < own_end; ++i) {
    const std::string& line = generated[i];
    if (!IsContinuation(line)) {
      const std::string name = generated.NameAt(static_cast<int>(i));
      skipping = IsContentField(name);
      if (!placed && !skipping && !LeadsContent(name)) {
        lines.insert(lines.end(), content_lines.begin(), content_lines.end());
        placed = true;
      }
    }
    if (!skipping) lines.push_back(line);
  }
  if (!placed) lines.insert(lines.end(), content_lines.begin(), content_lines.end());
  message::HeaderList block;
  block.Assign(lines);

  message::HeaderList extra;
  extra.Assign(message.extra_headers());
  if (mail_agent) extra.SetHeader("X-Mailer", *mail_agent);
  if (content.mime_version == MimeVersion::mvAfterExtraFields) {
    extra.SetHeader("MIME-Version", "1.0");
  }
  block.AddStrings(extra);
  return block;
}

}  // namespace tovrel::net
