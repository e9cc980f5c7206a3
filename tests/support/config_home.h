#pragma once

// Points the settings store at a fresh folder for one test: XDG_CONFIG_HOME is set to a temporary
// folder and restored afterwards.

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
  }
  ~ScopedConfigHome() {
    if (old_) {
      setenv("XDG_CONFIG_HOME", old_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }
  ScopedConfigHome(const ScopedConfigHome&) = delete;
  ScopedConfigHome& operator=(const ScopedConfigHome&) = delete;

  const std::string& path() const { return dir_.path(); }
  std::string folder() const { return dir_.path() + "/tovrelmail"; }
  std::string store_file() const { return folder() + "/user.reg"; }
  // For child processes: the environment entry that points them here.
  std::string env() const { return "XDG_CONFIG_HOME=" + dir_.path(); }

 private:
  TempDir dir_;
  std::optional<std::string> old_;
};

}  // namespace tovrel::test
