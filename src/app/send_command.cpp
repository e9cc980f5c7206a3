// The send command: the compose window's fields become one message delivered through SMTP.

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

#include "app/compose_window.h"
#include "app/message_box.h"
#include "app/qt_text.h"
#include "app/text_file.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/message.h"
#include "net/smtp_client.h"

namespace tovrel::app {

bool ComposeWindow::SendMail() {
  if (to_box_->text().isEmpty()) {
    ShowMessageBox(this, texts::kNoRecipient, "", QMessageBox::NoIcon);
    return false;
  }
  try {
    smtp_->set_host(ReadSetting("smtp", "smtp"));
    smtp_->set_port(StrToInt(ReadSetting("port", "port")));
    const std::string user = ReadSetting("username", "username");
    if (!user.empty()) {
      smtp_->set_user_id(user);
      smtp_->set_authentication_type(net::AuthenticationType::atLogin);
    } else {
      smtp_->set_authentication_type(net::AuthenticationType::atNone);
    }
    const std::string password = ReadSetting("password", "password");
    if (!password.empty()) smtp_->set_password(password);

    const int from_items =
        static_cast<int>(CommaTextSplit(ToText(from_box_->currentText())).size());
    message_->from().set_address(GetFromPart(from_items - 1));
    message_->from().set_name(GetFromPart(0));
    message_->recipients().LoadFromText(ToText(to_box_->text()));
    if (!cc_box_->text().isEmpty()) message_->cc_list().LoadFromText(ToText(cc_box_->text()));
    if (!bcc_box_->text().isEmpty()) message_->bcc_list().LoadFromText(ToText(bcc_box_->text()));
    message_->set_body(unshown_body_ ? *unshown_body_
                                     : SplitLines(ToText(msg_box_->toPlainText())));
    message_->set_subject(ToText(subject_box_->text()));
    for (int i = 0; i < attach_box_->count(); ++i) {
      message_->parts().AddAttachment(ToText(attach_box_->item(i)->text()));
    }

    smtp_->Connect();
    smtp_->Send(*message_);
    smtp_->Disconnect();
  } catch (...) {
    // Leave nothing of the failed try behind but what the user typed: a connection left open
    // would make the next Connect fail, and parts left in the message would be sent twice.
    try {
      smtp_->Disconnect();
    } catch (...) {  // the failure that brought us here is the one to report
    }
    message_->Clear();
    throw;
  }
  ClearFields();
  message_->Clear();
  return true;
}

void ComposeWindow::ClearFields() {
  to_box_->clear();
  cc_box_->clear();
  bcc_box_->clear();
  subject_box_->clear();
  msg_box_->clear();
  unshown_body_.reset();
  attach_box_->clear();
}

}  // namespace tovrel::app
