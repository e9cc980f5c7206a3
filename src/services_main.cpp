// The services module's one entry: the program loads this module on the first keyring call or
// token request.
#include "app/linked_services.h"

extern "C" __attribute__((visibility("default"))) const tovrel::app::ServiceCalls*
tovrel_services() {
  return &tovrel::app::LinkedServices();
}
