#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/reg_tree.h"

namespace tovrel::store {

// A key path beneath the user's root: one name per level.
using KeyPath = std::vector<std::string>;

// What looking a value up found.
struct ValueLookup {
  enum class Status { kMissing, kFound, kUnreadable };
  Status status = Status::kMissing;
  RegValue value;
};

// One open of the store: from opening the root to closing it. Everything the settings component
// does in one operation happens within one session, so a session sees one consistent state.
class RegistrySession {
 public:
  virtual ~RegistrySession() = default;

  virtual bool KeyExists(const KeyPath& path) = 0;
  // Creates the key and every missing key on its path; false when that is not possible.
  virtual bool CreateKey(const KeyPath& path) = 0;
  // The value; kMissing when the key or the value does not exist, kUnreadable when it exists but
  // its data cannot be had.
  virtual ValueLookup QueryValue(const KeyPath& key, std::string_view name) = 0;
  // Stores the value in an existing key; false when it cannot be stored.
  virtual bool SetValue(const KeyPath& key, std::string_view name, RegValue value) = 0;
  // Removes the value when it is there (a missing key or value is nothing to remove); false when
  // the store cannot be changed.
  virtual bool DeleteValue(const KeyPath& key, std::string_view name) = 0;
  // The value names of an existing key in enumeration order, or nothing when it does not exist.
  virtual std::optional<std::vector<std::string>> ValueNames(const KeyPath& key) = 0;
  // Every value of an existing key with its name and what looking it up finds, in enumeration
  // order, or nothing when the key does not exist. A session that can hand them over in one pass
  // over the key does better than a lookup per name.
  virtual std::optional<std::vector<std::pair<std::string, ValueLookup>>> Values(
      const KeyPath& key) {
    auto names = ValueNames(key);
    if (!names) return std::nullopt;
    std::vector<std::pair<std::string, ValueLookup>> values;
    values.reserve(names->size());
    for (std::string& name : *names) {
      ValueLookup lookup = QueryValue(key, name);
      values.emplace_back(std::move(name), std::move(lookup));
    }
    return values;
  }
  // Makes every change of the session durable; false when that failed (nothing is then
  // changed). A session closed without Commit changes nothing.
  virtual bool Commit() = 0;
};

// The store itself: hands out sessions.
class RegistryBackend {
 public:
  enum class Access { kRead, kWrite };
  virtual ~RegistryBackend() = default;
  // A session on the store, or null when the store cannot be opened for that access.
  virtual std::unique_ptr<RegistrySession> Open(Access access) = 0;
};

}  // namespace tovrel::store
