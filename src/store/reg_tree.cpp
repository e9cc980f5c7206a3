#include "store/reg_tree.h"

namespace tovrel::store {

namespace {

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

RegKey* RegKey::FindChild(std::string_view name) {
  for (auto& child : children_) {
    if (SameName(child->name(), name)) return child.get();
  }
  return nullptr;
}

const RegKey* RegKey::FindChild(std::string_view name) const {
  return const_cast<RegKey*>(this)->FindChild(name);
}

RegKey& RegKey::Child(std::string_view name) {
  if (RegKey* existing = FindChild(name)) return *existing;
  children_.push_back(std::make_unique<RegKey>(std::string(name)));
  return *children_.back();
}

const RegValue* RegKey::FindValue(std::string_view name) const {
  for (const auto& [value_name, value] : values_) {
    if (SameName(value_name, name)) return &value;
  }
  return nullptr;
}

void RegKey::SetValue(std::string_view name, RegValue value) {
  for (auto& [value_name, stored] : values_) {
    if (SameName(value_name, name)) {
      stored = std::move(value);
      return;
    }
  }
  values_.emplace_back(std::string(name), std::move(value));
}

const RegKey* RegKey::Find(const std::vector<std::string>& path) const {
  const RegKey* key = this;
  for (const auto& name : path) {
    key = key->FindChild(name);
    if (key == nullptr) return nullptr;
  }
  return key;
}

RegKey* RegKey::Find(const std::vector<std::string>& path) {
  return const_cast<RegKey*>(static_cast<const RegKey*>(this)->Find(path));
}

RegKey& RegKey::Create(const std::vector<std::string>& path) {
  RegKey* key = this;
  for (const auto& name : path) key = &key->Child(name);
  return *key;
}

}  // namespace tovrel::store
