#pragma once

// Files the program keeps for the user under $XDG_DATA_HOME/tovrelmail (by default
// ~/.local/share/tovrelmail): written whole or not at all, readable by the user alone. From
// tovrelmail down, a folder or file that is a symbolic link, or not the user's own, is refused:
// a link planted there would have the program read, send or write some other file in its place.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tovrel::app {

// The folder `name` below the program's data folder, made (mode 0700) when missing. Raises
// FileError when it cannot be made.
std::string DataFolder(std::string_view name);
// Makes `path` (mode 0700) when missing; raises FileError when it cannot be made, or when what
// is there is a symbolic link or not a folder of the user's own.
void MakeFolder(const std::string& path);
// Raises FileError when `path` is a symbolic link or not a regular file of the user's own.
void CheckOwnFile(const std::string& path);

// A file being written under a temporary name in the folder of its final one; Commit syncs it
// to the disk and gives it the final name in one step, so a reader (or a crash) sees the old
// file or the whole new one. Uncommitted, it is removed.
class SpoolFile {
 public:
  // Raises FileError when the file cannot be made.
  explicit SpoolFile(const std::string& folder);
  ~SpoolFile();
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  int fd() const { return fd_; }
  void Write(std::string_view bytes);
  // Puts what was written on the disk, where a full disk shows at the latest; raises FileError.
  void Sync();
  // Raises FileError when a write, the sync or the rename fails.
  void Commit(const std::string& path);

 private:
  std::string temporary_;
  int fd_ = -1;
};

// `content` as the whole file `path`, through a SpoolFile.
void WriteFileAtomically(const std::string& path, std::string_view content);
// The file, handed to `take` a block at a time; raises FileError when it cannot be read, or is
// a symbolic link or not a regular file of the user's own.
void ReadFileInBlocks(const std::string& path,
                      const std::function<void(std::string_view block)>& take);
// The whole file; raises FileError when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// A name that sorts after the names made before it and is unique across processes: the time in
// microseconds and the process.
std::string TimeOrderedName();
// 64 bits from the system's generator, for names no other process or machine makes.
std::uint64_t RandomBits();

}  // namespace tovrel::app
