#pragma once

// Seekable byte streams the connection can send whole: an in-memory one and a file one. The
// file stream reads and writes straight through the file descriptor, so callers choose the
// block size; the message writer uses large blocks.

#include <cstdint>
#include <span>
#include <string>

#include "message/spool_file.h"

namespace tovrel::net {

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  virtual int64_t Size() const = 0;
  virtual int64_t Position() const = 0;
  virtual void Seek(int64_t position) = 0;
  // Reads up to area.size() bytes; returns 0 only at the end.
  virtual size_t Read(std::span<char> area) = 0;
  virtual void Write(std::span<const char> bytes) = 0;
};

class MemoryStream : public ByteStream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::string bytes) : data_(std::move(bytes)) {}

  const std::string& data() const { return data_; }
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position; }
  size_t Read(std::span<char> area) override;
  void Write(std::span<const char> bytes) override;

 private:
  std::string data_;
  int64_t position_ = 0;
};

class FileStream : public ByteStream {
 public:
  enum class Mode { kRead, kCreate, kReadWrite };
  // kRead opens an existing file; kCreate makes it (or empties it); kReadWrite opens an existing
  // file emptied, for reading and writing. Raises FileError naming the path.
  FileStream(const std::string& path, Mode mode);
  // Takes over the descriptor of a spool file, open for reading and writing.
  explicit FileStream(message::SpoolFile spool);
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  const std::string& path() const { return path_; }
  int64_t Size() const override;
  int64_t Position() const override { return position_; }
  void Seek(int64_t position) override { position_ = position; }
  size_t Read(std::span<char> area) override;
  void Write(std::span<const char> bytes) override;

 private:
  std::string path_;
  int fd_ = -1;
  int64_t position_ = 0;
};

}  // namespace tovrel::net
