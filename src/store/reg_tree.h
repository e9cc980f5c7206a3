#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tovrel::store {

// Value types of the store, numbered as the registry numbers them.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

// One typed value. Text values hold their bytes without a terminating NUL.
struct RegValue {
  std::uint32_t type = kRegSz;
  std::string data;

  static RegValue Text(std::string text) { return RegValue{kRegSz, std::move(text)}; }
  bool IsText() const { return type == kRegSz || type == kRegExpandSz; }
  bool operator==(const RegValue&) const = default;
};

// Case-insensitive (ASCII letters) equality of key and value names.
bool SameName(std::string_view a, std::string_view b);

// One key of the tree: named child keys and named values, both in creation order. Names keep the
// case they were created with and are looked up without regard to case.
class RegKey {
 public:
  explicit RegKey(std::string name = {}) : name_(std::move(name)) {}

  const std::string& name() const { return name_; }

  RegKey* FindChild(std::string_view name);
  const RegKey* FindChild(std::string_view name) const;
  // The existing child of that name, or a new one.
  RegKey& Child(std::string_view name);
  const std::vector<std::unique_ptr<RegKey>>& children() const { return children_; }

  const RegValue* FindValue(std::string_view name) const;
  // Replaces a value of the same name in place (keeping its position and spelling), or appends.
  void SetValue(std::string_view name, RegValue value);
  // Removes the value of that name; false when there is none.
  bool RemoveValue(std::string_view name);
  const std::vector<std::pair<std::string, RegValue>>& values() const { return values_; }

  // The key at `path` beneath this one, or null.
  const RegKey* Find(const std::vector<std::string>& path) const;
  RegKey* Find(const std::vector<std::string>& path);
  // The key at `path`, created with every missing key on the way.
  RegKey& Create(const std::vector<std::string>& path);

 private:
  std::string name_;
  std::vector<std::unique_ptr<RegKey>> children_;
  std::vector<std::pair<std::string, RegValue>> values_;
  // Position in values_ by folded name: a key may hold tens of thousands of values, and a file
  // is parsed one value at a time.
  std::unordered_map<std::string, std::size_t> value_index_;
};

}  // namespace tovrel::store
