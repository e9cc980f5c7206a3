#include "message/on_demand_library.h"

#include <dlfcn.h>

namespace tovrel::message {

void* OnDemandLibrary::Symbol(const char* name, std::string& failure) {
  std::call_once(opened_, [this] {
    handle_ = ::dlopen(file_name_.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (handle_ == nullptr) open_failure_ = ::dlerror();
  });
  if (handle_ == nullptr) {
    failure = open_failure_;
    return nullptr;
  }
  void* symbol = ::dlsym(handle_, name);
  if (symbol == nullptr) {
    const char* reason = ::dlerror();
    failure = reason != nullptr ? reason : name;
  }
  return symbol;
}

}  // namespace tovrel::message
