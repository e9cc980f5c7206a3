#include "app/command_line.h"

#include <algorithm>
#include <iterator>

#include "app/app_errors.h"
#include "app/qt_text.h"
#include "app/text_file.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/string_helpers.h"
#include "message/utf8_text.h"

namespace tovrel::app {

namespace {

constexpr int kLinkPrefixLength = 7;  // "mailto:"
constexpr std::string_view kMailtoScheme = "mailto:";

// A text as a field of the window holds it: in the locale's encoding.
std::string AsTyped(const std::string& argument) { return ToText(FromText(argument)); }

// The lines of a body as the window's body box holds them: every kind of line break ends one.
std::vector<std::string> BodyLines(QString text) {
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  for (const QChar line_break :
       {QChar(u'\r'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator)}) {
    text.replace(line_break, QLatin1Char('\n'));
  }
  return SplitLines(ToText(text));
}

[[noreturn]] void RefuseLink(const char* text, const std::string& link) {
  throw LinkError(message::FormatText(text, {VisibleText(link)}));
}

// What a browser passes for a link with header fields ("mailto:ann@x.org?subject=Hi&cc=bob@x.org")
// or escaped characters ("ann%40x.org"). Taken as it stands, the query would become part of the
// recipient address; it is split into its fields instead (RFC 6068).
struct MailLink {
  std::string to;
  std::string cc;
  std::string bcc;
  std::string subject;
  std::string body;
};

bool HasMailtoScheme(std::string_view link) {
  if (link.size() < kMailtoScheme.size()) return false;
  for (std::size_t i = 0; i < kMailtoScheme.size(); ++i) {
    const char c = link[i];
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kMailtoScheme[i]) return false;
  }
  return true;
}

bool IsEncodedMailLink(std::string_view link) {
  return HasMailtoScheme(link) && link.find_first_of("?%") != std::string_view::npos;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Undoes the escapes. A "%" that two hex digits do not follow is no escape and stays as it is:
// guessing at what it meant would change an address. The bytes must make UTF-8 text.
std::string Unescaped(std::string_view text, const std::string& link) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      bytes += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      bytes += text[i];
    }
  }
  if (!message::IsValidUtf8(bytes)) RefuseLink(texts::kLinkNotText, link);
  return bytes;
}

MailLink ParseMailLink(std::string_view addresses_and_query, const std::string& link) {
  MailLink parsed;
  const std::size_t question = addresses_and_query.find('?');
  parsed.to = Unescaped(addresses_and_query.substr(0, question), link);
  if (question == std::string_view::npos) return parsed;
  auto add_addresses = [](std::string& field, const std::string& more) {
    if (more.empty()) return;
    field = field.empty() ? more : field + ", " + more;
  };
  std::string_view query = addresses_and_query.substr(question + 1);
  while (true) {
    const std::size_t ampersand = query.find('&');
    const std::string_view pair = query.substr(0, ampersand);
    const std::size_t equals = pair.find('=');
    const QString name = FromText(Unescaped(pair.substr(0, equals), link)).toLower();
    const std::string value =
        equals == std::string_view::npos ? std::string() : Unescaped(pair.substr(equals + 1), link);
    if (name == QLatin1String("to")) add_addresses(parsed.to, value);
    if (name == QLatin1String("cc")) add_addresses(parsed.cc, value);
    if (name == QLatin1String("bcc")) add_addresses(parsed.bcc, value);
    if (name == QLatin1String("subject")) parsed.subject = value;
    if (name == QLatin1String("body")) parsed.body = value;
    if (ampersand == std::string_view::npos) break;
    query.remove_prefix(ampersand + 1);
  }
  return parsed;
}

// Argument 1: the To field, or with a mailto: link that carries them, every field it names.
void ReadLink(const std::string& link, ComposeFields& fields) {
  if (!message::IsValidUtf8(link)) RefuseLink(texts::kLinkNotText, link);
  if (IsEncodedMailLink(link)) {
    MailLink parsed = ParseMailLink(std::string_view(link).substr(kLinkPrefixLength), link);
    fields.to = std::move(parsed.to);
    fields.cc = std::move(parsed.cc);
    fields.bcc = std::move(parsed.bcc);
    fields.subject = std::move(parsed.subject);
    fields.body = BodyLines(FromText(parsed.body));
  } else if (HasMailtoScheme(link)) {
    fields.to = AsTyped(link.substr(kLinkPrefixLength));
  } else {
    // Bare addresses, as a script may pass them.
    fields.to = AsTyped(link);
  }
  // A control character inside an address would go to the server as part of it.
  for (const std::string* addresses : {&fields.to, &fields.cc, &fields.bcc}) {
    if (HasControlCharacter(*addresses)) RefuseLink(texts::kLinkControlInAddress, link);
  }
}

}  // namespace

std::size_t LeadingToolkitOptions(const std::vector<std::string>& args) {
  // The options Qt's application classes take, with one or two dashes, the valued ones also as
  // "-name=value".
  static constexpr std::string_view kFlags[] = {"reverse", "widgetcount", "nograb", "dograb",
                                                "sync"};
  static constexpr std::string_view kValued[] = {
      "style",   "stylesheet",      "platform",     "platformpluginpath", "platformtheme",
      "plugin",  "qwindowgeometry", "qwindowicon",  "qwindowtitle",       "session",
      "display", "geometry",        "qmljsdebugger"};
  const auto listed = [](const auto& names, std::string_view name) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
  };
  std::size_t i = 0;
  while (i < args.size()) {
    std::string_view name = args[i];
    if (!name.starts_with('-')) break;
    name.remove_prefix(name.starts_with("--") ? 2 : 1);
    const std::size_t equals = name.find('=');
    if (equals != std::string_view::npos) {
      if (!listed(kValued, name.substr(0, equals))) break;
      ++i;
    } else if (listed(kFlags, name)) {
      ++i;
    } else if (listed(kValued, name)) {
      i = std::min(i + 2, args.size());
    } else {
      break;
    }
  }
  return i;
}

bool AsksToSend(const std::vector<std::string>& args) {
  return args.size() >= 4 && args[3] == "send";
}

void ReadCommandLine(const std::vector<std::string>& args, CommandLine& line,
                     BodyFileUse body_file_use) {
  ComposeFields& fields = line.fields;
  if (args.size() >= 1) ReadLink(args[0], fields);
  // The positional arguments that follow take precedence over the link's fields.
  if (args.size() >= 2) fields.subject = AsTyped(args[1]);
  if (args.size() >= 3) {
    // A path goes to the system as the bytes it came as, whatever their encoding.
    if (args[2].starts_with("-f")) {
      const std::string path = args[2].substr(2);
      if (AsksToSend(args) && body_file_use == BodyFileUse::bfStream) {
        // Held whole, a long body would cost its size several times over before a byte is
        // sent; the send reads the file as it goes. What is wrong with the file by its name
        // shows here, as it would if the file were read.
        CheckTextFile(path);
        fields.body.clear();
        fields.body_file = path;
      } else {
        fields.body = ReadTextLines(path);
      }
    } else {
      fields.body = BodyLines(FromText(args[2]));
    }
  }
  line.unattended_send = AsksToSend(args);
  for (std::size_t i = 4; i < args.size(); ++i) fields.attachments.push_back(args[i]);
}

}  // namespace tovrel::app
