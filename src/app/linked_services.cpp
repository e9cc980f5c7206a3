#include "app/linked_services.h"

namespace tovrel::app {

const ServiceCalls& LinkedServices() {
  static constexpr ServiceCalls kCalls{FindInSecretService, StoreInSecretService,
                                       RemoveFromSecretService, PostTokenRequest};
  return kCalls;
}

}  // namespace tovrel::app
