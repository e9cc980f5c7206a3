#include "app/program.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/command_line.h"
#include "app/error_report.h"
#include "app/message_box.h"
#include "app/settings_layout.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "store/registry_store.h"

namespace tovrel::app {

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

// Without a display the program's standard error carries one line per message box and nothing
// else, so that a script can read it; Qt's own notes about the offscreen platform would mix in.
void KeepQtNotesOffStandardError(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    std::fprintf(stderr, "%s\n", VisibleText(OneLine(text.toLocal8Bit().toStdString())).c_str());
  }
}

}  // namespace

ProgramWindows::ProgramWindows(const std::vector<std::string>& args)
    : compose(args), settings(&compose), about(&compose) {
  compose.set_settings_dialog(&settings);
  compose.set_about_box(&about);
}

int RunProgram(int argc, char** argv) {
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  // Asked for alone, as Linux programs are; anything else stays a positional argument.
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(texts::kUsage, stdout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("%s\n", texts::kVersionLine);
    return 0;
  }
  const bool headless = !HasDisplay();
  if (headless) {
    if (!AsksToSend(args)) {
      std::fprintf(stderr, "%s\n", texts::kNeedsDisplay);
      return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    SetMessageBoxMode(MessageBoxMode::kHeadless);
    qInstallMessageHandler(KeepQtNotesOffStandardError);
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(texts::kApplicationTitle);
  // The desktop entry names the program for the window system. No display name: Qt would
  // append it to every caption.
  QGuiApplication::setDesktopFileName(QStringLiteral("tovrelmail"));

  store::RegistryStore registry;
  if (!RunReported([&] { PrepareStoreOnFirstStart(registry); })) return 1;

  ProgramWindows windows(args);
  if (windows.compose.termination_requested()) return windows.compose.exit_status();
  // Without a display only a send that ended the program makes sense; it failed.
  if (headless) return 1;
  windows.compose.show();
  return QApplication::exec();
}

}  // namespace tovrel::app
