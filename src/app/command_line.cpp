#include "app/command_line.h"

#include <QUrl>

#include "app/qt_text.h"
#include "app/text_file.h"

namespace tovrel::app {

namespace {

constexpr int kLinkPrefixLength = 7;  // "mailto:"

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

// What a browser passes for a link with header fields ("mailto:ann@x.org?subject=Hi&cc=bob@x.org")
// or escaped characters ("ann%40x.org"). Taken as it stands, the query would become part of the
// recipient address; it is split into its fields instead (RFC 6068).
struct MailLink {
  QString to;
  QString cc;
  QString bcc;
  QString subject;
  QString body;
};

bool IsEncodedMailLink(const QString& link) {
  return link.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive) &&
         (link.contains(QLatin1Char('?')) || link.contains(QLatin1Char('%')));
}

QString Unescaped(const QString& text) { return QUrl::fromPercentEncoding(text.toUtf8()); }

MailLink ParseMailLink(const QString& addresses_and_query) {
  MailLink link;
  const qsizetype question = addresses_and_query.indexOf(QLatin1Char('?'));
  link.to = Unescaped(addresses_and_query.left(question));
  if (question < 0) return link;
  auto add_addresses = [](QString& field, const QString& more) {
    if (more.isEmpty()) return;
    field = field.isEmpty() ? more : field + QLatin1String(", ") + more;
  };
  for (const QString& pair : addresses_and_query.mid(question + 1).split(QLatin1Char('&'))) {
    const qsizetype equals = pair.indexOf(QLatin1Char('='));
    const QString name = Unescaped(pair.left(equals)).toLower();
    const QString value = equals < 0 ? QString() : Unescaped(pair.mid(equals + 1));
    if (name == QLatin1String("to")) add_addresses(link.to, value);
    if (name == QLatin1String("cc")) add_addresses(link.cc, value);
    if (name == QLatin1String("bcc")) add_addresses(link.bcc, value);
    if (name == QLatin1String("subject")) link.subject = value;
    if (name == QLatin1String("body")) link.body = value;
  }
  return link;
}

}  // namespace

bool AsksToSend(const std::vector<std::string>& args) {
  return args.size() >= 4 && args[3] == "send";
}

void ReadCommandLine(const std::vector<std::string>& args, CommandLine& line) {
  ComposeFields& fields = line.fields;
  QString typed_body;
  if (args.size() >= 1) {
    const QString link = FromText(args[0]);
    const QString rest = link.mid(kLinkPrefixLength);
    if (IsEncodedMailLink(link)) {
      // The positional arguments that follow still take precedence over the link's fields.
      const MailLink parsed = ParseMailLink(rest);
      fields.to = ToText(parsed.to);
      fields.cc = ToText(parsed.cc);
      fields.bcc = ToText(parsed.bcc);
      fields.subject = ToText(parsed.subject);
      typed_body = parsed.body;
      fields.body = BodyLines(typed_body);
    } else {
      fields.to = ToText(rest);
    }
  }
  if (args.size() >= 2) fields.subject = AsTyped(args[1]);
  if (args.size() >= 3) {
    if (args[2].starts_with("-f")) {
      fields.body = ReadTextLines(ToText(FromText(args[2]).mid(2)));
    } else {
      // One more line after whatever the link put into the body.
      const QString typed = FromText(args[2]);
      typed_body = typed_body.isEmpty() ? typed : typed_body + QLatin1Char('\n') + typed;
      fields.body = BodyLines(typed_body);
    }
  }
  line.unattended_send = AsksToSend(args);
  for (std::size_t i = 4; i < args.size(); ++i) fields.attachments.push_back(AsTyped(args[i]));
}

}  // namespace tovrel::app
