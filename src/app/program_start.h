#pragma once

namespace tovrel::app {

// What the window module (the compose window, the dialogs and the message loop, built with Qt
// Widgets) exports for the program to call: int(int argc, char** argv), returning the process
// status.
inline constexpr const char* kWindowEntryName = "tovrel_run_window";
// Its file name, beside the program in the build tree and in the program's own library folder
// once installed.
inline constexpr const char* kWindowModuleName = "tovrelmail_window.so";

// The program: help and version on standard output, the unattended send when there is no
// display, else the window module with the windows and the message loop. The module is loaded
// only then, so that a send without a display maps nothing of the window toolkit, which costs
// a short run more than the send does. Returns the process status.
int StartProgram(int argc, char** argv);

}  // namespace tovrel::app
