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

// Where the content fields belong among the generated ones: after the leading address, subject
// and newsgroup fields with their continuation lines.
size_t ContentSlot(const message::HeaderList& fields) {
  size_t i = 0;
  while (i < fields.count()) {
    const std::string name = fields.NameAt(static_cast<int>(i));
    bool leads = false;
    for (std::string_view before : kFieldsBeforeContent) leads = leads || name == before;
    if (!leads) break;
    ++i;
    while (i < fields.count() && IsContinuation(fields[i])) ++i;
  }
  return i;
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

bool HoldsDelimiter(const BodyLines& lines, const std::string& suffix) {
  bool found = false;
  // A long line comes in pieces; only the first can begin like a delimiter.
  bool line_start = true;
  lines.ForEach(
      [&](std::string_view piece, bool line_ends) {
        found = found || (line_start && IsDelimiter(piece, suffix));
        line_start = line_ends;
      },
      [&] {
        found = false;
        line_start = true;
      });
  return found;
}

bool TextHoldsDelimiter(const message::Message& message, const BodyLines& body,
                        const std::string& suffix) {
  if (HoldsDelimiter(body, suffix)) return true;
  for (size_t i = 0; i < message.parts().count(); ++i) {
    if (auto* text = dynamic_cast<const message::TextPart*>(&message.parts()[i])) {
      if (HoldsDelimiter(BodyLines(text->body()), suffix)) return true;
    }
  }
  return false;
}

std::string RandomSuffix() {
  static constexpr char kChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device source;
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  std::string suffix = "_";
  for (size_t i = 0; i < kSuffixLength; ++i) suffix.push_back(kChars[pick(source)]);
  return suffix;
}

}  // namespace

BodyLayout CountParts(const message::Message& message, const BodyLines& body) {
  BodyLayout layout;
  for (size_t i = 0; i < message.parts().count(); ++i) {
    const message::MessagePart& part = message.parts()[i];
    if (dynamic_cast<const message::TextPart*>(&part) != nullptr) {
      ++layout.text_count;
    } else if (dynamic_cast<const message::Attachment*>(&part) != nullptr) {
      ++layout.attachment_count;
      if (!part.extra_headers().ValueOf("Content-ID").empty()) ++layout.related_count;
    }
  }
  if (layout.attachment_count > 0 || layout.text_count > 0) {
    std::string suffix;
    while (TextHoldsDelimiter(message, body, suffix)) suffix = RandomSuffix();
    layout.boundary_suffix = std::move(suffix);
  }
  return layout;
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
  // The generated block ends with the message's extra fields, line for line.
  const message::HeaderList generated = message::BuildHeaderList(message, locale);
  const auto own_end =
      generated.lines().end() - static_cast<std::ptrdiff_t>(message.extra_headers().count());
  message::HeaderList block;
  block.Assign(message::StringList(generated.lines().begin(), own_end));

  // The generated content fields show the message as the caller left it; these replace them.
  block.SetHeader("Content-Type", "");
  block.SetHeader("MIME-Version", "");
  block.SetHeader("Content-Transfer-Encoding", "");
  message::HeaderList content_lines;
  content_lines.SetHeader("Content-Type", content.content_type);
  if (content.mime_version == MimeVersion::mvWithContentFields) {
    content_lines.SetHeader("MIME-Version", "1.0");
  }
  content_lines.SetHeader("Content-Transfer-Encoding", content.transfer_encoding);
  size_t slot = ContentSlot(block);
  for (const std::string& line : content_lines) block.Insert(slot++, line);

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
