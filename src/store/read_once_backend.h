#pragma once

#include <memory>

#include "store/registry_backend.h"

namespace tovrel::store {

// The store as one state for a short run that only reads it, such as an unattended send: the
// first read session is taken from the store beneath and kept, and every later read is answered
// from it instead of opening and parsing the file again. A write goes to the store beneath, and
// the read after it takes the new state. A store that cannot be opened is asked again next time.
class ReadOnceBackend : public RegistryBackend {
 public:
  explicit ReadOnceBackend(std::unique_ptr<RegistryBackend> source);

  std::unique_ptr<RegistrySession> Open(Access access) override;

 private:
  std::unique_ptr<RegistryBackend> source_;
  // Shared with the sessions handed out, which may outlive the next write.
  std::shared_ptr<RegistrySession> kept_;
};

}  // namespace tovrel::store
