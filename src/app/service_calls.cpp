#include "app/service_calls.h"

#include <atomic>
#include <mutex>

#include "app/program_modules.h"

namespace tovrel::app {

namespace {

std::atomic<const ServiceCalls*> linked_calls = nullptr;

}  // namespace

const ServiceCalls* Services(std::string& failure) {
  if (const ServiceCalls* calls = linked_calls.load()) return calls;
  static const ServiceCalls* module_calls = nullptr;
  static std::string module_failure;
  static std::once_flag once;
  std::call_once(once, [] {
    using Entry = const ServiceCalls* (*)();
    if (auto entry = reinterpret_cast<Entry>(
            ModuleEntry(kServicesModuleName, kServicesEntryName, module_failure))) {
      module_calls = entry();
    }
  });
  if (module_calls == nullptr) failure = module_failure;
  return module_calls;
}

void UseLinkedServices(const ServiceCalls* calls) { linked_calls = calls; }

}  // namespace tovrel::app
