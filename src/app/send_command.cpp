// The send command: the compose window's fields become one message delivered through SMTP.

#include <QLineEdit>

#include "app/app_errors.h"
#include "app/compose_window.h"
#include "app/message_box.h"
#include "app/text_rules.h"
#include "app/texts.h"

namespace tovrel {

bool ComposeWindow::SendMail() {
  if (to_box_->text().isEmpty()) {
    ShowMessageBox(this, texts::kNoRecipient, "", QMessageBox::NoIcon);
    return false;
  }
  ReadSetting("smtp", "smtp");
  StrToInt(ReadSetting("port", "port"));
  // Delivery arrives with the SMTP client of the network layer.
  throw AppError("Sending is not available in this build");
}

}  // namespace tovrel
