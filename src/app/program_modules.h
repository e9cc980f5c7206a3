#pragma once

// The program's modules: parts built as shared objects of their own and loaded only when they
// are needed, so that a start that does not need them maps none of their libraries.

#include <string>
#include <string_view>

namespace tovrel::app {

// The address of `entry_name` in the module file `module_name`, looked for beside the running
// program (the build tree), then in the installed module folder. The module stays loaded to
// the end of the run. Null when it is missing or cannot be loaded; `failure` then holds the
// loader's message, or the path looked at first when no file was found.
void* ModuleEntry(std::string_view module_name, const char* entry_name, std::string& failure);

}  // namespace tovrel::app
