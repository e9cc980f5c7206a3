#include "app/error_report.h"

#include "app/message_box.h"
#include "app/texts.h"
#include "net/net_errors.h"

namespace tovrel::app {

namespace {

void ShowReport(const std::string& text, QWidget* parent) {
  ShowMessageBox(parent, text, texts::kApplicationTitle, QMessageBox::Critical, QMessageBox::Ok,
                 QMessageBox::Ok);
}

}  // namespace

void ReportError(const std::string& message, QWidget* parent) {
  ShowReport(ErrorReportText(message), parent);
}

void ReportError(const std::exception& error, QWidget* parent) {
  std::string text = ErrorReportText(error.what());
  // A greylisting server or a short outage reads like a refusal; the user should not go and
  // change settings that are right.
  if (net::IsTemporaryFailure(error)) text.append("\n").append(texts::kTryAgainLater);
  ShowReport(text, parent);
}

}  // namespace tovrel::app
