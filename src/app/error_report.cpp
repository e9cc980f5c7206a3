#include "app/error_report.h"

#include "app/message_box.h"
#include "app/texts.h"

namespace tovrel::app {

void ReportError(const std::string& message, QWidget* parent) {
  ShowMessageBox(parent, ErrorReportText(message), texts::kApplicationTitle, QMessageBox::Critical,
                 QMessageBox::Ok, QMessageBox::Ok);
}

void ReportError(const std::exception& error, QWidget* parent) {
  ReportError(std::string(error.what()), parent);
}

}  // namespace tovrel::app
