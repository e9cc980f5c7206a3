#include "app/spool_files.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>

#include "app/app_errors.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

[[noreturn]] void Fail(const std::string& path) {
  // An open that does not follow links says so as a loop; the user learns what it is.
  if (errno == ELOOP) throw FileError(message::FormatText(texts::kRefusedLink, {path}));
  throw FileError(message::FormatText(texts::kCannotOpenFile, {path, std::strerror(errno)}));
}

void CheckOwn(const struct stat& status, const std::string& path, bool folder) {
  if (S_ISLNK(status.st_mode)) throw FileError(message::FormatText(texts::kRefusedLink, {path}));
  const bool kind = folder ? S_ISDIR(status.st_mode) : S_ISREG(status.st_mode);
  if (!kind || status.st_uid != ::geteuid()) {
    throw FileError(message::FormatText(
        folder ? texts::kRefusedNotOwnFolder : texts::kRefusedNotOwnFile, {path}));
  }
}

// The folders above the program's own may be links (a home whose .local lives on another disk).
// Any of them missing is made, as the desktop's base directories are meant to be: a new account
// or an XDG_DATA_HOME named before its parents exist.
void MakeAnyFolder(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) Fail(part);
    if (slash == std::string::npos) return;
  }
}

}  // namespace

void MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return;
  if (errno != EEXIST) Fail(path);
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) Fail(path);
  CheckOwn(status, path, true);
}

void CheckOwnFile(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) Fail(path);
  CheckOwn(status, path, false);
}

std::string DataFolder(std::string_view name) {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  std::string folder;
  // XDG_DATA_HOME counts only as an absolute path; a relative one is ignored, as desktop tools do.
  if (data_home != nullptr && data_home[0] == '/') {
    folder = data_home;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr ? home : "") + "/.local";
    MakeAnyFolder(folder);
    folder += "/share";
  }
  MakeAnyFolder(folder);
  folder += "/tovrelmail";
  MakeFolder(folder);
  folder.append("/").append(name);
  MakeFolder(folder);
  return folder;
}

SpoolFile::SpoolFile(const std::string& folder) {
  // A leading dot keeps the file out of every listing of finished entries.
  temporary_ = folder + "/.tmp-" + TimeOrderedName();
  fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd_ < 0) Fail(temporary_);
}

SpoolFile::~SpoolFile() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(temporary_.c_str());
  }
}

void SpoolFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) Fail(temporary_);
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

void SpoolFile::Sync() {
  if (::fsync(fd_) != 0) Fail(temporary_);
}

void SpoolFile::Commit(const std::string& path) {
  Sync();
  if (::rename(temporary_.c_str(), path.c_str()) != 0) Fail(path);
  ::close(fd_);
  fd_ = -1;
  // The new name itself lasts only once the folder is on the disk too.
  const std::string folder = path.substr(0, path.rfind('/'));
  const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd >= 0) {
    ::fsync(folder_fd);
    ::close(folder_fd);
  }
}

void WriteFileAtomically(const std::string& path, std::string_view content) {
  SpoolFile file(path.substr(0, path.rfind('/')));
  file.Write(content);
  file.Commit(path);
}

void ReadFileInBlocks(const std::string& path,
                      const std::function<void(std::string_view block)>& take) {
  // Not blocking: a FIFO put in a file's place is refused below rather than waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) Fail(path);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat status {};
  if (::fstat(fd, &status) != 0) Fail(path);
  CheckOwn(status, path, false);
  char block[65536];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail(path);
    if (got == 0) return;
    take(std::string_view(block, static_cast<size_t>(got)));
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::string content;
  ReadFileInBlocks(path, [&](std::string_view block) { content.append(block); });
  return content;
}

std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  auto* bytes = reinterpret_cast<unsigned char*>(&bits);
  std::size_t filled = 0;
  while (filled < sizeof bits) {
    const ssize_t got = ::getrandom(bytes + filled, sizeof bits - filled, 0);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (errno != EINTR) {
      std::random_device device;  // a kernel without getrandom
      return std::uint64_t{device()} << 32 | device();
    }
  }
  return bits;
}

std::string TimeOrderedName() {
  static unsigned sequence = 0;
  const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  char name[64];
  std::snprintf(name, sizeof name, "%016llx-%d-%u",
                static_cast<unsigned long long>(microseconds.count()), static_cast<int>(::getpid()),
                sequence++);
  return name;
}

}  // namespace tovrel::app
