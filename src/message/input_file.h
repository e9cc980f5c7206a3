#pragma once

// A file whose bytes are to be sent: an attachment or a body file. Only a regular file or a pipe
// (a FIFO, or the read end a shell hands over for "<(command)") qualifies; a device such as
// /dev/zero would never end, a FIFO without a writer would block its open() for good, and a
// directory or socket has nothing to send. The check runs before a connection is made, and
// again on opening, since the name may have changed hands in between.

#include <cstddef>
#include <span>
#include <string>

namespace tovrel::message {

enum class InputFileKind { ifRegular, ifPipe };

// What `path` names. Raises FileError naming the path when it cannot be examined or is neither
// kind.
InputFileKind CheckInputFile(const std::string& path);

// What one look at a path found, so that a caller that must know more of a file before it checks
// it asks the system once.
struct PathLook {
  bool found = false;  // it could be examined
  bool regular = false;
  bool pipe = false;
  long long size = 0;  // of a regular file
};
// Never raises.
PathLook LookAtPath(const std::string& path);
// Raises as CheckInputFile(path) does when `look` is what LookAtPath(path) found.
InputFileKind CheckInputFile(const std::string& path, const PathLook& look);

class InputFile {
 public:
  // Opens without blocking. `wait_limit_ms` bounds each wait for a pipe's next bytes (a negative
  // value waits without limit). Raises FileError naming the path when it cannot be opened or is
  // neither kind.
  // `checked`: what a look at the path found shortly before, which stands for the look by name
  // that otherwise comes first.
  InputFile(const std::string& path, int wait_limit_ms, const PathLook* checked = nullptr);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  InputFileKind kind() const { return kind_; }
  const std::string& path() const { return path_; }

  // Reads up to area.size() bytes; returns 0 only at the end. Raises FileError when the read
  // fails or a pipe brings nothing within the limit.
  std::size_t Read(std::span<char> area);

  // Regular files only, for a second pass over the same bytes: reads again from the first one.
  // Raises FileError when the file changed since it was opened (see CheckUnchanged).
  void Rewind();
  // Regular files only: raises FileError when the file's size or times are no longer those it had
  // on opening, that is, when someone wrote to it meanwhile. A second pass relies on reading
  // what the first one read.
  void CheckUnchanged() const;
  // A regular file whose bytes, as many as it held on opening, have all been read: its end needs
  // no read of its own. Bytes written after the opening are not part of what is sent (see
  // CheckUnchanged). A size of 0 says nothing: files of /proc and /sys show it and still have
  // bytes, which only a read to the end finds.
  bool AllRead() const { return kind_ == InputFileKind::ifRegular && size_ > 0 && read_ >= size_; }

 private:
  std::string path_;
  int fd_ = -1;
  InputFileKind kind_ = InputFileKind::ifRegular;
  int wait_limit_ms_ = -1;
  // What fstat() said on opening: the size and the data and status change times.
  long long size_ = 0;
  long long read_ = 0;
  long long modified_ns_ = 0;
  long long changed_ns_ = 0;
};

}  // namespace tovrel::message
