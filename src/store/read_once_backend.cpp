#include "store/read_once_backend.h"

#include <utility>

namespace tovrel::store {

namespace {

// A read session over the kept one: the same answers, and no way to change anything.
class KeptReadSession : public RegistrySession {
 public:
  explicit KeptReadSession(std::shared_ptr<RegistrySession> kept) : kept_(std::move(kept)) {}

  bool KeyExists(const KeyPath& path) override { return kept_->KeyExists(path); }
  bool CreateKey(const KeyPath&) override { return false; }
  ValueLookup QueryValue(const KeyPath& key, std::string_view name) override {
    return kept_->QueryValue(key, name);
  }
  bool SetValue(const KeyPath&, std::string_view, RegValue) override { return false; }
  bool DeleteValue(const KeyPath&, std::string_view) override { return false; }
  std::optional<std::vector<std::string>> ValueNames(const KeyPath& key) override {
    return kept_->ValueNames(key);
  }
  std::optional<std::vector<std::pair<std::string, ValueLookup>>> Values(
      const KeyPath& key) override {
    return kept_->Values(key);
  }
  bool Commit() override { return true; }

 private:
  std::shared_ptr<RegistrySession> kept_;
};

}  // namespace

ReadOnceBackend::ReadOnceBackend(std::unique_ptr<RegistryBackend> source)
    : source_(std::move(source)) {}

std::unique_ptr<RegistrySession> ReadOnceBackend::Open(Access access) {
  if (access == Access::kWrite) {
    kept_.reset();
    return source_->Open(access);
  }
  if (kept_ == nullptr) kept_ = source_->Open(Access::kRead);
  if (kept_ == nullptr) return nullptr;
  return std::make_unique<KeptReadSession>(kept_);
}

}  // namespace tovrel::store
