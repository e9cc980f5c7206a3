#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store/registry_backend.h"

namespace tovrel::store {

// Reads and writes single named text values of the per-user settings store. The caller selects
// a value with the base key path, the section beneath it and the value name, then calls one
// operation; each operation opens the store, does its one access and closes it again, so
// nothing is cached and another process's write is seen at once.
class RegistryStore {
 public:
  using ErrorEvent = std::function<void(RegistryStore& sender)>;

  // With no back end, the user's store file.
  explicit RegistryStore(std::unique_ptr<RegistryBackend> backend = nullptr);
  ~RegistryStore();

  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  const std::string& base_key() const { return base_key_; }
  void set_base_key(std::string path) { base_key_ = std::move(path); }
  const std::string& target_key() const { return target_key_; }
  void set_target_key(std::string section) { target_key_ = std::move(section); }
  const std::string& target_value() const { return target_value_; }
  void set_target_value(std::string name) { target_value_ = std::move(name); }
  const ErrorEvent& on_read_error() const { return on_read_error_; }
  void set_on_read_error(ErrorEvent event) { on_read_error_ = std::move(event); }
  const ErrorEvent& on_write_error() const { return on_write_error_; }
  void set_on_write_error(ErrorEvent event) { on_write_error_ = std::move(event); }
  bool dont_create() const { return dont_create_; }
  void set_dont_create(bool value) { dont_create_ = value; }

  // "None" when the section or the value is missing; raises "Cannot open key to read" when the
  // base key is missing and "Invalid data type for '%s'" for a value that is not text. With
  // OnReadError set, a failure calls it and the result is empty text.
  std::string ReadString();
  // -1 when missing or not an integer; -1 after a failure reported to OnReadError.
  int ReadInteger();
  // False when missing; true when the stored number is not 0; false after a reported failure.
  bool ReadBool();
  // Replaces `list` with the value names of the section in enumeration order; leaves it as it
  // was when the section is missing.
  void ReadSection(std::vector<std::string>* list);
  // Every value of the selected section (the value name is not looked at) as name and text, in
  // enumeration order, from one open of the store: a caller that needs many values of a section
  // does not parse the whole store for each. Empty when the section is missing; a value that is
  // not text fails as ReadString would fail on it. With OnReadError set, a failure calls it and
  // the result is empty.
  std::vector<std::pair<std::string, std::string>> ReadSectionStrings();

  // Create the base key (unless DontCreate) and the section as needed and store the value as
  // text. True when written; false after a failure reported to OnWriteError.
  bool WriteString(const std::string& value);
  bool WriteInteger(int value);
  bool WriteBool(bool value);
  // Removes the selected value, so that it reads as missing again; a missing base key, section
  // or value is nothing to remove. Raises "Cannot open key to write" when the store cannot be
  // opened for writing and "Failed to set data for '%s'" when the change cannot be stored. True
  // when done; false after a failure reported to OnWriteError.
  bool DeleteValue();

  // Whether the base key exists (first-start preparation).
  bool BaseKeyExists();

 private:
  KeyPath BasePath() const;
  KeyPath SectionPath() const;
  std::unique_ptr<RegistrySession> OpenBaseForRead();
  // The stored text of the selected value, or nothing when it is missing.
  std::optional<std::string> ReadText();
  bool Write(const std::string& text);
  // Runs one read or write; a store failure goes to the event when it is set (the result is
  // then `on_failure`), else to the caller.
  template <typename Result, typename Operation>
  Result Guarded(const ErrorEvent& event, Result on_failure, Operation&& operation);

  std::unique_ptr<RegistryBackend> backend_;
  std::string base_key_;
  std::string target_key_;
  std::string target_value_;
  ErrorEvent on_read_error_;
  ErrorEvent on_write_error_;
  bool dont_create_ = false;
};

}  // namespace tovrel::store
