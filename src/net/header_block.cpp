#include "net/header_block.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "message/header_generation.h"

namespace tovrel::net {

namespace {

// The generated fields that come before the content fields, as NameAt gives their names.
constexpr std::string_view kFieldsBeforeContent[] = {"FROM", "SUBJECT", "TO", "CC", "NEWSGROUPS"};

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

}  // namespace

PartCounts CountParts(const message::Message& message) {
  PartCounts counts;
  for (size_t i = 0; i < message.parts().count(); ++i) {
    const message::MessagePart& part = message.parts()[i];
    if (dynamic_cast<const message::TextPart*>(&part) != nullptr) {
      ++counts.text_count;
    } else if (dynamic_cast<const message::Attachment*>(&part) != nullptr) {
      ++counts.attachment_count;
      if (!part.extra_headers().ValueOf("Content-ID").empty()) ++counts.related_count;
    }
  }
  return counts;
}

bool DeclaresUtf8Body(const message::Message& message, const message::LocaleInfo& locale) {
  if (!locale.IsUtf8()) return false;
  for (const std::string& line : message.body()) {
    if (HasEightBitByte(line)) return true;
  }
  return false;
}

ContentFields ChooseContentFields(const message::Message& message, const PartCounts& counts,
                                  bool declares_utf8_body) {
  ContentFields fields;
  std::string type = message.content_type();
  if (counts.related_count > 0) {
    type = std::string("multipart/related; type=\"multipart/alternative\"; boundary=\"") +
           message::kRelatedBoundary + "\"";
  } else if (counts.attachment_count > 0) {
    type = std::string("multipart/mixed; boundary=\"") + message::kMixedBoundary + "\"";
  } else if (counts.text_count > 0) {
    type = std::string("multipart/alternative; boundary=\"") + message::kMixedBoundary + "\"";
  }
  fields.content_type = type.empty() ? message.char_set() : type + ";" + message.char_set();
  fields.transfer_encoding = message.content_transfer_encoding();
  const bool without_parts = message.parts().empty();
  fields.mime_version = without_parts ? MimeVersion::mvNone : MimeVersion::mvWithContentFields;
  if (without_parts && fields.content_type.empty() && fields.transfer_encoding.empty() &&
      declares_utf8_body) {
    // Without these a reader guesses the character set of the typed text, and usually guesses
    // wrong. A body of plain ASCII keeps the bare header block. Such a message has always
    // carried its MIME-Version after the extra fields; readers take the fields in any order.
    fields.content_type = kUtf8TextType;
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
