#include "app/program.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/command_line.h"
#include "app/error_report.h"
#include "app/linked_services.h"
#include "app/message_box.h"
#include "app/password_keyring.h"
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

ProgramWindows::~ProgramWindows() {
  constexpr std::chrono::seconds kKeyringFinishWait{5};
  FinishKeyringCalls(kKeyringFinishWait);
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
  // The toolkit sees only the options before the first positional argument: it would take a
  // subject "-reverse" for its own wherever it stood, and the send would become an open window.
  const std::vector<std::string> given(argv + std::min(argc, 1), argv + argc);
  const int toolkit_end = std::min(argc, 1) + static_cast<int>(LeadingToolkitOptions(given));
  std::vector<char*> toolkit_argv(argv, argv + toolkit_end);
  toolkit_argv.push_back(nullptr);
  int toolkit_argc = toolkit_end;
  QApplication app(toolkit_argc, toolkit_argv.data());
  // What the toolkit left of its part (an option it does not know), then the rest as given.
  std::vector<std::string> args(toolkit_argv.begin() + std::min(toolkit_argc, 1),
                                toolkit_argv.begin() + toolkit_argc);
  args.insert(args.end(), argv + toolkit_end, argv + argc);
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
