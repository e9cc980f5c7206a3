// The command line: positional arguments that pre-fill the compose window and may send at once.
//   1  mail link: a seven-character scheme prefix ("mailto:") and the To addresses
//   2  subject
//   3  body: "-f" and the path of a text file, or one line of text
//   4  "send" (exactly) to send without user interaction
//   5… files to attach

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

#include "app/compose_window.h"
#include "app/qt_text.h"
#include "app/text_file.h"

namespace tovrel {

namespace {

constexpr int kLinkPrefixLength = 7;  // "mailto:"

QString JoinLines(const std::vector<std::string>& lines) {
  QStringList joined;
  for (const auto& line : lines) joined.push_back(FromText(line));
  return joined.join(QLatin1Char('\n'));
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
    to_box_->setText(hidden_box_->text().mid(kLinkPrefixLength));
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

}  // namespace tovrel
