#include "app/program.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>

#include "app/error_report.h"
#include "app/linked_services.h"
#include "app/message_box.h"
#include "app/send_command.h"
#include "app/settings_layout.h"
#include "app/texts.h"
#include "store/registry_store.h"

namespace tovrel::app {

ProgramWindows::ProgramWindows(const std::vector<std::string>& args)
    : compose(args), settings(&compose), about(&compose) {
  compose.set_settings_dialog(&settings);
  compose.set_about_box(&about);
}

namespace {

// A send the command line asked for ends the program as it does without a display, after the
// box the user saw; a box that was a line on standard error already gave the reason.
int CommandLineSendStatus(const ComposeWindow& compose, int status) {
  if (!compose.failed_send_reason().empty() && !MessageBoxesAreHeadless()) {
    std::fprintf(stderr, "%s\n", VisibleText(OneLine(compose.failed_send_reason())).c_str());
  }
  return compose.exit_status() != kExitSent ? compose.exit_status() : status;
}

}  // namespace

int RunProgram(int argc, char** argv) {
  // The windows link the keyring and the token request in; they need no module of their own.
  UseLinkedServices(&LinkedServices());
  QApplication app(argc, argv);
  // Read after the application took its own options ("-stylesheet x.qss") out of argv.
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  QApplication::setApplicationName(texts::kApplicationTitle);
  // The desktop entry names the program for the window system. No display name: Qt would
  // append it to every caption.
  QGuiApplication::setDesktopFileName(QStringLiteral("tovrelmail"));

  store::RegistryStore registry;
  if (!RunReported([&] { PrepareStoreOnFirstStart(registry); })) return 1;

  ProgramWindows windows(args);
  if (windows.compose.termination_requested()) return CommandLineSendStatus(windows.compose, 0);
  windows.compose.show();
  const int status = QApplication::exec();
  return CommandLineSendStatus(windows.compose, status);
}

}  // namespace tovrel::app
