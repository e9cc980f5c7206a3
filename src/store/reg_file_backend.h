#pragma once

#include <memory>
#include <string>

#include "store/registry_backend.h"

namespace tovrel::store {

// The settings store as one text file per user, ${XDG_CONFIG_HOME:-$HOME/.config}/tovrelmail/
// user.reg. Every session reads the file afresh. A writing session holds an exclusive lock on
// user.reg.lock beside it from reading to replacing, so two processes never lose each other's
// values (a lock file that is a symbolic link, or not the user's own, is refused); the file is
// replaced by renaming a complete, synced temporary file, so a crash never leaves half of it. The
// file is mode 0600 and its folder 0700 (it holds a password). A file that cannot be parsed is
// never overwritten, and nothing but a regular file is read (a FIFO or a device is refused at
// once). When user.reg is a symbolic link, writes go through to its target, so the link stays a
// link.
class RegFileBackend : public RegistryBackend {
 public:
  // The per-user file named by the environment at the time of each open.
  RegFileBackend() = default;
  // A fixed file (tests, tools).
  explicit RegFileBackend(std::string path) : fixed_path_(std::move(path)) {}

  std::unique_ptr<RegistrySession> Open(Access access) override;

  // The file a session opened now would use.
  std::string path() const;
  static std::string DefaultPath();

 private:
  std::string fixed_path_;
};

}  // namespace tovrel::store
