// The window module's one entry: the program loads this module only when it opens its windows.
#include "app/program.h"

extern "C" __attribute__((visibility("default"))) int tovrel_run_window(int argc, char** argv) {
  return tovrel::app::RunProgram(argc, argv);
}
