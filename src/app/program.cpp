#include "app/program.h"

#include <QApplication>
#include <algorithm>

#include "app/error_report.h"
#include "app/settings_layout.h"
#include "app/texts.h"
#include "store/registry_store.h"

namespace tovrel::app {

ProgramWindows::ProgramWindows(const std::vector<std::string>& args)
    : compose(args), settings(&compose), about(&compose) {
  compose.set_settings_dialog(&settings);
  compose.set_about_box(&about);
}

int RunProgram(int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  QApplication app(argc, argv);
  QApplication::setApplicationName(texts::kApplicationTitle);
  // The desktop entry names the program for the window system. No display name: Qt would
  // append it to every caption.
  QGuiApplication::setDesktopFileName(QStringLiteral("tovrelmail"));

  store::RegistryStore registry;
  if (!RunReported([&] { PrepareStoreOnFirstStart(registry); })) return 1;

  ProgramWindows windows(args);
  if (windows.compose.termination_requested()) return windows.compose.exit_status();
  windows.compose.show();
  return QApplication::exec();
}

}  // namespace tovrel::app
