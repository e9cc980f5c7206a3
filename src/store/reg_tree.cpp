#include "store/reg_tree.h"

namespace tovrel::store {

namespace {

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The name every spelling of it folds to, for looking values up by name.
std::string FoldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = Fold(c);
  return folded;
}

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
  const auto found = value_index_.find(FoldedName(name));
  return found == value_index_.end() ? nullptr : &values_[found->second].second;
}

void RegKey::SetValue(std::string_view name, RegValue value) {
  const auto [found, added] = value_index_.try_emplace(FoldedName(name), values_.size());
  if (!added) {
    values_[found->second].second = std::move(value);
    return;
  }
  values_.emplace_back(std::string(name), std::move(value));
}

bool RegKey::RemoveValue(std::string_view name) {
  const auto found = value_index_.find(FoldedName(name));
  if (found == value_index_.end()) return false;
  const std::size_t position = found->second;
  value_index_.erase(found);
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(position));
  for (auto& [folded, index] : value_index_) {
    if (index > position) --index;
  }
  return true;
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
