#include "store/reg_file_backend.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "store/reg_file_format.h"

namespace tovrel::store {

namespace {

// Closes the descriptor on every path out.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports whether close succeeded (it can report a late write error).
  bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool FolderExists(const std::string& folder) {
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates the folder and its missing parents, private to the user, and makes the store's own
// folder private even when it existed before.
bool EnsurePrivateFolder(const std::string& folder) {
  if (!FolderExists(folder)) {
    const std::string parent = FolderOf(folder);
    if (parent != folder && !FolderExists(parent) && !EnsurePrivateFolder(parent)) return false;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return ::chmod(folder.c_str(), 0700) == 0;
}

// The lock file beside the store, made when missing. One that is a symbolic link, or not a regular
// file of the user's own, is refused (`refused` set): through a planted link the open would make
// or lock a file wherever the link points.
Fd OpenLockFile(const std::string& path, bool& refused) {
  Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  struct stat st {};
  refused = fd.valid()
                ? ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()
                : errno == ELOOP;
  return fd;
}

bool LockFd(int fd, int operation) {
  while (::flock(fd, operation) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// The whole file; an absent file is an empty text. False when it exists but cannot be read, or
// is not a regular file: a FIFO would block the start for ever and a device could be endless.
// The open does not block, so a FIFO without a writer is seen for what it is.
bool ReadWholeFile(const std::string& path, std::string& text) {
  text.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return errno == ENOENT;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  char buffer[16384];
  while (true) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

// The file a write replaces: the end of the chain when `path` is a symbolic link (a store kept
// among a user's dotfiles stays a link), else `path` itself. A link whose target does not exist
// yet names the file to create. Empty for a loop or a chain too long to follow.
std::string WriteTarget(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0) return current;  // not a link (or absent): this is the file
    target.resize(static_cast<std::size_t>(n));
    current = target.starts_with('/') ? target : FolderOf(current) + "/" + target;
  }
  return {};
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Temporary files carry a prefix of their own, hidden and never a name a user would pick, so
// that the sweep below can only ever meet files this program made.
std::string TemporaryPrefix(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return FolderOf(path) + "/." + name + ".tmp-";
}

// Replaces `path` with `bytes` so that a reader or a crash sees either the old or the new file.
bool ReplaceFile(const std::string& path, std::string_view bytes) {
  std::string temp = TemporaryPrefix(path) + "XXXXXX";
  Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.valid()) return false;
  const bool written = WriteAll(fd.get(), bytes) && ::fchmod(fd.get(), 0600) == 0 &&
                       ::fsync(fd.get()) == 0 && fd.Close();
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself must reach the disk too, or a crash could bring back the old file.
  Fd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.valid()) ::fsync(folder.get());
  return true;
}

// Temporary files of writers that died before their rename. Only called under the exclusive
// lock, when no other writer can be between creating and renaming its file.
void RemoveStaleTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string prefix = TemporaryPrefix(path).substr(folder.size() + 1);
  const std::size_t temp_length = prefix.size() + 6;  // the six characters mkstemp fills in
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == temp_length && name.starts_with(prefix)) {
      std::filesystem::remove(entry.path(), error);
    }
  }
}

class FileSession : public RegistrySession {
 public:
  FileSession(std::string path, RegKey root, Fd lock, bool writable)
      : path_(std::move(path)),
        root_(std::move(root)),
        lock_(std::move(lock)),
        writable_(writable) {}

  bool KeyExists(const KeyPath& path) override { return root_.Find(path) != nullptr; }

  bool CreateKey(const KeyPath& path) override {
    if (!writable_) return false;
    for (const auto& name : path) {
      if (!IsStorableKeyName(name)) return false;
    }
    if (root_.Find(path) == nullptr) {
      root_.Create(path);
      dirty_ = true;
    }
    return true;
  }

  ValueLookup QueryValue(const KeyPath& key, std::string_view name) override {
    const RegKey* found = root_.Find(key);
    const RegValue* value = found ? found->FindValue(name) : nullptr;
    if (value == nullptr) return {};
    return {ValueLookup::Status::kFound, *value};
  }

  bool SetValue(const KeyPath& key, std::string_view name, RegValue value) override {
    RegKey* found = root_.Find(key);
    if (!writable_ || found == nullptr || !IsStorableValueName(name)) return false;
    found->SetValue(name, std::move(value));
    dirty_ = true;
    return true;
  }

  bool DeleteValue(const KeyPath& key, std::string_view name) override {
    if (!writable_) return false;
    RegKey* found = root_.Find(key);
    if (found != nullptr && found->RemoveValue(name)) dirty_ = true;
    return true;
  }

  std::optional<std::vector<std::string>> ValueNames(const KeyPath& key) override {
    const RegKey* found = root_.Find(key);
    if (found == nullptr) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& [name, value] : found->values()) names.push_back(name);
    return names;
  }

  std::optional<std::vector<std::pair<std::string, ValueLookup>>> Values(
      const KeyPath& key) override {
    const RegKey* found = root_.Find(key);
    if (found == nullptr) return std::nullopt;
    std::vector<std::pair<std::string, ValueLookup>> values;
    values.reserve(found->values().size());
    for (const auto& [name, value] : found->values()) {
      values.emplace_back(name, ValueLookup{ValueLookup::Status::kFound, value});
    }
    return values;
  }

  bool Commit() override {
    if (!dirty_) return true;
    if (!writable_) return false;
    const std::string target = WriteTarget(path_);
    if (target.empty() || !ReplaceFile(target, SerializeRegFile(root_))) return false;
    dirty_ = false;
    return true;
  }

 private:
  std::string path_;
  RegKey root_;
  Fd lock_;  // held until the session ends; closing it releases the lock
  bool writable_;
  bool dirty_ = false;
};

}  // namespace

std::string RegFileBackend::DefaultPath() {
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    config = std::string(home) + "/.config";
  } else {
    config = ".config";
  }
  return config + "/tovrelmail/user.reg";
}

std::string RegFileBackend::path() const {
  return fixed_path_.empty() ? DefaultPath() : fixed_path_;
}

std::unique_ptr<RegistrySession> RegFileBackend::Open(Access access) {
  const std::string file = path();
  const std::string folder = FolderOf(file);
  const bool writable = access == Access::kWrite;
  if (writable && !EnsurePrivateFolder(folder)) return nullptr;
  Fd lock;
  if (writable || FolderExists(folder)) {
    bool refused = false;
    lock = OpenLockFile(file + ".lock", refused);
    if (refused) return nullptr;
    if (lock.valid() && !LockFd(lock.get(), writable ? LOCK_EX : LOCK_SH)) return nullptr;
    // A writer must hold the lock; a reader of an atomically replaced file can do without.
    if (writable && !lock.valid()) return nullptr;
  }
  if (writable) {
    const std::string target = WriteTarget(file);
    if (target.empty()) return nullptr;
    RemoveStaleTemporaries(target);
  }
  std::string text;
  if (!ReadWholeFile(file, text)) return nullptr;
  auto root = ParseRegFile(text);
  if (!root) return nullptr;
  if (!writable) lock = Fd();  // the snapshot is taken; let writers in
  return std::make_unique<FileSession>(file, std::move(*root), std::move(lock), writable);
}

}  // namespace tovrel::store
