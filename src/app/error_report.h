#pragma once

#include <QObject>
#include <exception>
#include <string>
#include <utility>

#include "app/settings_layout.h"
#include "app/text_rules.h"
#include "app/texts.h"

class QWidget;

namespace tovrel::app {

// The default error report: a critical message box titled "TovrelMail" with the failure's text.
// Every event handler of the program ends here when it fails; the program then goes on with the
// next event.
void ReportError(const std::exception& error, QWidget* parent = nullptr);
void ReportError(const std::string& message, QWidget* parent = nullptr);

// The line the report of a failed send adds below the failure's own text: what to check in
// Settings, naming the account's server and port. Empty for a failure that points at nothing
// the user can check there.
std::string SendFailureHint(const std::exception& error, const Account& account);
// The report's text of a failed send from the window: the failure's own text, then that line.
std::string SendErrorText(const std::exception& error, const Account& account);
// The default error report of a failed send from the window, with that line.
void ReportSendError(const std::exception& error, const Account& account, QWidget* parent);

// Runs one event handler and hands any failure leaving it to the default error report. Returns
// false when the handler failed.
template <typename Handler>
bool RunReported(Handler&& handler, QWidget* parent = nullptr) {
  try {
    std::forward<Handler>(handler)();
    return true;
  } catch (const std::exception& error) {
    ReportError(error, parent);
  } catch (...) {
    ReportError(std::string(texts::kUnknownFailure), parent);
  }
  return false;
}

// Connects a signal to an event handler of `receiver` (a member function without arguments) so
// that a failure leaving the handler ends at the default error report over `receiver`.
template <typename Sender, typename Signal, typename Receiver>
void ConnectReported(Sender* sender, Signal signal, Receiver* receiver,
                     void (Receiver::*handler)()) {
  QObject::connect(sender, signal, receiver,
                   [receiver, handler] { RunReported([&] { (receiver->*handler)(); }, receiver); });
}

}  // namespace tovrel::app
