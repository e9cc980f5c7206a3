#pragma once

// A keyring of the tests' own: a private session bus with GNOME Keyring's Secret Service on it,
// its keyring files in a temporary home. Both are stopped by process id.
//
// GLib keeps one connection to the session bus for the whole process, so a test program uses one
// bus for all its tests (Shared) rather than one per test.

#include <memory>
#include <optional>
#include <string>

#include "support/test_support.h"

namespace tovrel::test {

class KeyringDaemon {
 public:
  KeyringDaemon();
  ~KeyringDaemon();
  // Started at the first use, stopped when the test program ends.
  static KeyringDaemon& Shared();
  KeyringDaemon(const KeyringDaemon&) = delete;
  KeyringDaemon& operator=(const KeyringDaemon&) = delete;

  const std::string& address() const { return address_; }
  // For child processes: the environment entry that points them at this bus.
  std::string env() const { return "DBUS_SESSION_BUS_ADDRESS=" + address_; }
  // The password the keyring holds for the program under `server` and `user`, asked with the
  // desktop's own command-line tool rather than the program's code.
  std::optional<std::string> Lookup(const std::string& server, const std::string& user) const;
  // Removes every entry of the program, so that a test starts with none.
  void Clear() const;

 private:
  TempDir dir_;
  std::unique_ptr<ChildProcess> bus_;
  std::unique_ptr<ChildProcess> keyring_;
  std::string address_;
};

}  // namespace tovrel::test
