#include "app/program_start.h"

#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_session.h"
#include "app/program_modules.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "app/unattended_send.h"
#include "message/string_helpers.h"

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
// else, so that a script can read it; Qt's own notes would mix in.
void KeepQtNotesOffStandardError(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg) {
    std::fprintf(stderr, "%s\n", VisibleText(OneLine(text.toLocal8Bit().toStdString())).c_str());
  }
}

// The user's locale as far as a run without windows reads it: the character set, and system
// error texts (a file that cannot be read) in the user's language. Nothing it does reads the
// other categories (numbers, dates and collation are its own), and each costs files to open.
void TakeUserLocale() {
  std::setlocale(LC_CTYPE, "");
  std::setlocale(LC_MESSAGES, "");
}

int RunWindowModule(int argc, char** argv) {
  std::string failure;
  using Entry = int (*)(int, char**);
  if (auto entry =
          reinterpret_cast<Entry>(ModuleEntry(kWindowModuleName, kWindowEntryName, failure))) {
    return entry(argc, argv);
  }
  std::fprintf(stderr, "%s\n", message::FormatText(texts::kNoWindowModule, {failure}).c_str());
  return 1;
}

}  // namespace

int StartProgram(int argc, char** argv) {
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
  SettleSessionBus();
  // A run of its own, from a timer or a script: never a window.
  if (args.size() == 1 && args[0] == "--send-outbox") {
    TakeUserLocale();
    qInstallMessageHandler(KeepQtNotesOffStandardError);
    return RunSendOutbox(std::cerr);
  }
  // A display that does not answer is no display: the toolkit would end the program at its start.
  if (HasDisplay() && DisplayAnswers()) return RunWindowModule(argc, argv);
  if (!AsksToSend(args)) {
    std::fprintf(stderr, "%s\n", texts::kNeedsDisplay);
    return 2;
  }
  TakeUserLocale();
  qInstallMessageHandler(KeepQtNotesOffStandardError);
  return RunUnattendedSend(args, std::cerr);
}

}  // namespace tovrel::app
