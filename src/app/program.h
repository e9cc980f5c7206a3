#pragma once

#include <string>
#include <vector>

#include "app/about_box.h"
#include "app/compose_window.h"
#include "app/settings_dialog.h"
#include "store/registry_store.h"

namespace tovrel::app {

// Whether the command line asks for an unattended send (argument 4 is exactly "send").
bool AsksToSend(const std::vector<std::string>& args);

// On the very first start the store holds nothing; prepare it as an installer would, so that the
// first-run sequence starts: marker "a", no extra identities, port 25.
void PrepareStoreOnFirstStart(store::RegistryStore& registry);

// The program's windows, made in their order: the compose window (whose creation processes the
// command line), then the settings dialog and the About box.
struct ProgramWindows {
  explicit ProgramWindows(const std::vector<std::string>& args);
  ComposeWindow compose;
  SettingsDialog settings;
  AboutBox about;
};

// The whole program: start-up, the windows, the message loop. Returns the process status.
int RunProgram(int argc, char** argv);

}  // namespace tovrel::app
