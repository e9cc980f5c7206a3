#pragma once

namespace tovrel {

// The whole program: start-up, the windows, the message loop. Returns the process status.
int RunProgram(int argc, char** argv);

}  // namespace tovrel
