#include "message/input_file.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "message/message_error.h"
#include "message/string_helpers.h"
#include "message/texts.h"

namespace tovrel::message {

namespace {

[[noreturn]] void Fail(const char* format, const std::string& path) {
  throw FileError(FormatText(format, {path}));
}

InputFileKind KindOf(const struct stat& info, const std::string& path) {
  if (S_ISREG(info.st_mode)) return InputFileKind::ifRegular;
  if (S_ISFIFO(info.st_mode)) return InputFileKind::ifPipe;
  Fail(texts::kNotAnInputFile, path);
}

long long Nanoseconds(const struct timespec& time) {
  return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

}  // namespace

InputFileKind CheckInputFile(const std::string& path) {
  return CheckInputFile(path, LookAtPath(path));
}

PathLook LookAtPath(const std::string& path) {
  struct stat info {};
  // stat() follows links and never opens: a FIFO without a writer cannot hold the check up.
  if (::stat(path.c_str(), &info) != 0) return {};
  return {true, S_ISREG(info.st_mode), S_ISFIFO(info.st_mode),
          static_cast<long long>(info.st_size)};
}

InputFileKind CheckInputFile(const std::string& path, const PathLook& look) {
  if (!look.found) Fail(texts::kCannotOpenFile, path);
  if (look.regular) return InputFileKind::ifRegular;
  if (look.pipe) return InputFileKind::ifPipe;
  Fail(texts::kNotAnInputFile, path);
}

InputFile::InputFile(const std::string& path, int wait_limit_ms, const PathLook* checked)
    : path_(path), wait_limit_ms_(wait_limit_ms) {
  // Opening a device may already act on it; what is no file to send is refused by name first.
  if (checked != nullptr) {
    CheckInputFile(path, *checked);
  } else {
    CheckInputFile(path);
  }
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) Fail(texts::kCannotOpenFile, path);
  struct stat info {};
  try {
    if (::fstat(fd_, &info) != 0) Fail(texts::kCannotOpenFile, path);
    kind_ = KindOf(info, path);
  } catch (...) {
    ::close(fd_);
    throw;
  }
  if (kind_ == InputFileKind::ifRegular) {
    // O_NONBLOCK stays: reads of a regular file never wait, with or without it.
    size_ = info.st_size;
    modified_ns_ = Nanoseconds(info.st_mtim);
    changed_ns_ = Nanoseconds(info.st_ctim);
  }
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t InputFile::Read(std::span<char> area) {
  using Clock = std::chrono::steady_clock;
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(wait_limit_ms_ < 0 ? 0 : wait_limit_ms_);
  for (;;) {
    if (kind_ == InputFileKind::ifPipe) {
      // Until a writer has come, poll() waits for one, where read() would report the end at once.
      int timeout = -1;
      if (wait_limit_ms_ >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        timeout = left > 0 ? static_cast<int>(left) : 0;
      }
      pollfd entry{fd_, POLLIN, 0};
      const int ready = ::poll(&entry, 1, timeout);
      if (ready < 0) {
        if (errno == EINTR) continue;
        Fail(texts::kInputReadError, path_);
      }
      if (ready == 0) Fail(texts::kInputTimedOut, path_);
    }
    const ssize_t n = ::read(fd_, area.data(), area.size());
    if (n >= 0) {
      read_ += n;
      return static_cast<std::size_t>(n);
    }
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    Fail(texts::kInputReadError, path_);
  }
}

void InputFile::Rewind() {
  CheckUnchanged();
  if (::lseek(fd_, 0, SEEK_SET) != 0) Fail(texts::kInputReadError, path_);
  read_ = 0;
}

void InputFile::CheckUnchanged() const {
  struct stat info {};
  if (kind_ != InputFileKind::ifRegular || ::fstat(fd_, &info) != 0) {
    Fail(texts::kInputReadError, path_);
  }
  // The status change time moves with every write and cannot be set back, unlike the
  // modification time.
  if (info.st_size != size_ || Nanoseconds(info.st_mtim) != modified_ns_ ||
      Nanoseconds(info.st_ctim) != changed_ns_) {
    Fail(texts::kInputChanged, path_);
  }
}

}  // namespace tovrel::message
