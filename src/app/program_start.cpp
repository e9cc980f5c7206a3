#include "app/program_start.h"

#include <dlfcn.h>
#include <unistd.h>

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

// The folder the running program was started from.
std::string ProgramFolder() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0) return ".";
  path.resize(static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

// Beside the program (the build tree), then where an installation puts it.
int RunWindowModule(int argc, char** argv) {
  const std::string folder = ProgramFolder();
  std::string failure;
  for (const std::string& candidate :
       {folder + "/" + kWindowModuleName,
        folder + "/" + TOVREL_WINDOW_MODULE_DIR + "/" + kWindowModuleName}) {
    if (::access(candidate.c_str(), F_OK) != 0) continue;
    // Kept loaded to the end: Qt's own clean-up at exit runs code of the module's libraries.
    void* module = ::dlopen(candidate.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (module == nullptr) {
      failure = ::dlerror();
      break;
    }
    using Entry = int (*)(int, char**);
    if (auto entry = reinterpret_cast<Entry>(::dlsym(module, kWindowEntryName))) {
      return entry(argc, argv);
    }
    failure = ::dlerror();
    break;
  }
  if (failure.empty()) failure = folder + "/" + kWindowModuleName;
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
    std::setlocale(LC_ALL, "");
    qInstallMessageHandler(KeepQtNotesOffStandardError);
    return RunSendOutbox(std::cerr);
  }
  // A display that does not answer is no display: the toolkit would end the program at its start.
  if (HasDisplay() && DisplayAnswers()) return RunWindowModule(argc, argv);
  if (!AsksToSend(args)) {
    std::fprintf(stderr, "%s\n", texts::kNeedsDisplay);
    return 2;
  }
  // The user's locale in full, as the window toolkit would have set it: system error texts
  // (a file that cannot be read) come in the user's language.
  std::setlocale(LC_ALL, "");
  qInstallMessageHandler(KeepQtNotesOffStandardError);
  return RunUnattendedSend(args, std::cerr);
}

}  // namespace tovrel::app
