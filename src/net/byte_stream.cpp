#include "net/byte_stream.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "message/message_error.h"
#include "message/string_helpers.h"
#include "message/texts.h"
#include "net/texts.h"

namespace tovrel::net {

namespace {

std::string WithPath(const char* format, const std::string& path) {
  return message::FormatText(format, {path});
}

}  // namespace

size_t MemoryStream::Read(std::span<char> area) {
  if (position_ >= Size()) return 0;
  size_t count = std::min(area.size(), static_cast<size_t>(Size() - position_));
  std::memcpy(area.data(), data_.data() + position_, count);
  position_ += static_cast<int64_t>(count);
  return count;
}

void MemoryStream::Write(std::span<const char> bytes) {
  size_t at = static_cast<size_t>(position_);
  if (data_.size() < at + bytes.size()) data_.resize(at + bytes.size());
  std::memcpy(data_.data() + at, bytes.data(), bytes.size());
  position_ += static_cast<int64_t>(bytes.size());
}

FileStream::FileStream(const std::string& path, Mode mode) : path_(path) {
  switch (mode) {
    case Mode::kRead:
      fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd_ < 0) throw message::FileError(WithPath(message::texts::kCannotOpenFile, path));
      break;
    case Mode::kCreate:
      fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (fd_ < 0) throw message::FileError(WithPath(message::texts::kCannotCreateFile, path));
      break;
    case Mode::kReadWrite:
      fd_ = ::open(path.c_str(), O_RDWR | O_TRUNC | O_CLOEXEC);
      if (fd_ < 0) throw message::FileError(WithPath(message::texts::kCannotCreateFile, path));
      break;
  }
}

FileStream::FileStream(message::SpoolFile spool)
    : path_(std::move(spool.name)), fd_(spool.descriptor) {}

FileStream::~FileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t FileStream::Size() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) throw message::FileError(WithPath(texts::kFileReadError, path_));
  return info.st_size;
}

size_t FileStream::Read(std::span<char> area) {
  for (;;) {
    ssize_t n = ::pread(fd_, area.data(), area.size(), position_);
    if (n >= 0) {
      position_ += n;
      return static_cast<size_t>(n);
    }
    if (errno != EINTR) throw message::FileError(WithPath(texts::kFileReadError, path_));
  }
}

void FileStream::Write(std::span<const char> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, position_);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw message::FileError(WithPath(message::texts::kFileWriteError, path_));
    }
    done += static_cast<size_t>(n);
    position_ += n;
  }
}

}  // namespace tovrel::net
