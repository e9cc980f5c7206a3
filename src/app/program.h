#pragma once

#include <string>
#include <vector>

#include "app/about_box.h"
#include "app/compose_window.h"
#include "app/settings_dialog.h"

namespace tovrel::app {

// The program's windows, made in their order: the compose window (whose creation processes the
// command line), then the settings dialog and the About box.
struct ProgramWindows {
  explicit ProgramWindows(const std::vector<std::string>& args);
  // A password being stored when the program ends is waited for (a few seconds at most), so
  // that the keyring and the settings file agree on where it is.
  ~ProgramWindows();
  ProgramWindows(const ProgramWindows&) = delete;
  ProgramWindows& operator=(const ProgramWindows&) = delete;
  ComposeWindow compose;
  SettingsDialog settings;
  AboutBox about;
};

// The program with its windows, on a display: start-up, the windows (the compose window runs
// the command line, which may send and end the run), the message loop. Returns the process
// status.
int RunProgram(int argc, char** argv);

}  // namespace tovrel::app
