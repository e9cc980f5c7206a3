#pragma once

// Points the settings store at a fresh folder for one test: XDG_CONFIG_HOME is set to a temporary
// folder and restored afterwards; so is XDG_DATA_HOME (drafts, the outbox, sent copies), so that
// no test (nor a program it runs) writes into the user's own data.

#include <cstdlib>
#include <optional>
#include <string>

#include "support/test_support.h"

namespace tovrel::test {

class ScopedConfigHome {
 public:
  ScopedConfigHome() {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_ = old;
    setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
    if (const char* old = std::getenv("XDG_DATA_HOME")) old_data_ = old;
    setenv("XDG_DATA_HOME", data_home().c_str(), 1);
  }
  ~ScopedConfigHome() {
    Restore("XDG_CONFIG_HOME", old_);
    Restore("XDG_DATA_HOME", old_data_);
  }
  ScopedConfigHome(const ScopedConfigHome&) = delete;
  ScopedConfigHome& operator=(const ScopedConfigHome&) = delete;

  const std::string& path() const { return dir_.path(); }
  std::string folder() const { return dir_.path() + "/tovrelmail"; }
  std::string store_file() const { return folder() + "/user.reg"; }
  // For child processes: the environment entry that points them here.
  std::string env() const { return "XDG_CONFIG_HOME=" + dir_.path(); }
  // Two levels that do not exist yet, as on a new account: the program makes them.
  std::string data_home() const { return dir_.path() + "/data/share"; }
  std::string data_folder() const { return data_home() + "/tovrelmail"; }

 private:
  static void Restore(const char* name, const std::optional<std::string>& old) {
    if (old) {
      setenv(name, old->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  TempDir dir_;
  std::optional<std::string> old_;
  std::optional<std::string> old_data_;
};

}  // namespace tovrel::test
