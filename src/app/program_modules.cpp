#include "app/program_modules.h"

#include <unistd.h>

#include "message/on_demand_library.h"

namespace tovrel::app {

namespace {

// The folder the running program was started from.
std::string ProgramFolder() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0) return ".";
  path.resize(static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void* ModuleEntry(std::string_view module_name, const char* entry_name, std::string& failure) {
  const std::string folder = ProgramFolder();
  const std::string beside = folder + "/" + std::string(module_name);
  for (const std::string& candidate :
       {beside, folder + "/" + TOVREL_MODULE_DIR + "/" + std::string(module_name)}) {
    if (::access(candidate.c_str(), F_OK) != 0) continue;
    // Never closed: Qt's own clean-up at exit runs code of the module's libraries.
    message::OnDemandLibrary module(candidate);
    return module.Symbol(entry_name, failure);
  }
  failure = beside;
  return nullptr;
}

}  // namespace tovrel::app
