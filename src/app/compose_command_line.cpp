// The command line: positional arguments that pre-fill the compose window and may send at once.
//   1  mail link: a seven-character scheme prefix ("mailto:") and the To addresses; a mailto:
//      link with escapes or header fields ("?subject=...&cc=...&body=...") fills those fields
//   2  subject
//   3  body: "-f" and the path of a text file, or one line of text
//   4  "send" (exactly) to send without user interaction
//   5… files to attach

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QUrl>

#include "app/compose_window.h"
#include "app/qt_text.h"
#include "app/text_file.h"

namespace tovrel::app {

namespace {

constexpr int kLinkPrefixLength = 7;  // "mailto:"

QString JoinLines(const std::vector<std::string>& lines) {
  QStringList joined;
  for (const auto& line : lines) joined.push_back(FromText(line));
  return joined.join(QLatin1Char('\n'));
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

void ComposeWindow::ShowUnshownBody() {
  if (!unshown_body_) return;
  msg_box_->setPlainText(JoinLines(*unshown_body_));
  unshown_body_.reset();
}

void ComposeWindow::FormCreate(const std::vector<std::string>& args) {
  bool send = false;
  const bool unattended = args.size() >= 4 && args[3] == "send";
  if (args.size() >= 1) {
    hidden_box_->setText(FromText(args[0]));
    const QString rest = hidden_box_->text().mid(kLinkPrefixLength);
    if (IsEncodedMailLink(hidden_box_->text())) {
      // The positional arguments that follow still take precedence over the link's fields.
      MailLink link = ParseMailLink(rest);
      to_box_->setText(link.to);
      cc_box_->setText(link.cc);
      bcc_box_->setText(link.bcc);
      subject_box_->setText(link.subject);
      link.body.replace(QLatin1String("\r\n"), QLatin1String("\n"));
      if (!link.body.isEmpty()) msg_box_->setPlainText(link.body);
    } else {
      to_box_->setText(rest);
    }
  }
  if (args.size() >= 2) subject_box_->setText(FromText(args[1]));
  if (args.size() >= 3) {
    if (args[2].starts_with("-f")) {
      hidden_box_->setText(FromText(args[2]));
      const std::string path = ToText(hidden_box_->text().mid(2));
      std::vector<std::string> lines = ReadTextLines(path);
      if (unattended) {
        unshown_body_ = std::move(lines);
      } else {
        msg_box_->setPlainText(JoinLines(lines));
      }
    } else {
      msg_box_->appendPlainText(FromText(args[2]));
    }
  }
  if (args.size() >= 4 && args[3] == "send") {
    send = true;
    LoadIdentities();
  }
  for (std::size_t i = 4; i < args.size(); ++i) attach_box_->addItem(FromText(args[i]));
  if (send) {
    const bool sent = SendMail();
    // The program ends either way: an unattended run must not wait for a person.
    termination_requested_ = true;
    exit_status_ = sent ? 0 : 1;
  }
}

}  // namespace tovrel::app
