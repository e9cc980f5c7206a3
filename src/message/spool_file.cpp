#include "message/spool_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "message/message_error.h"
#include "message/string_helpers.h"
#include "message/texts.h"

namespace tovrel::message {

const std::string& TempDirectory() {
  static const std::string directory = [] {
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env != nullptr && *env != '\0') ? env : "/tmp";
    if (dir.back() != '/') dir.push_back('/');
    return dir;
  }();
  return directory;
}

namespace {

SpoolFile MakeSpoolFile(const std::string& directory) {
  std::string path = directory;
  if (path.empty() || path.back() != '/') path.push_back('/');
  path += "TovXXXXXX.tmp";
  std::vector<char> buffer(path.begin(), path.end());
  buffer.push_back('\0');
  const int fd = mkostemps(buffer.data(), 4, O_CLOEXEC);  // mode 0600
  if (fd < 0) throw FileError(FormatText(texts::kCannotCreateFile, {path}));
  return SpoolFile{fd, std::string(buffer.data())};
}

}  // namespace

std::string NewSpoolFileName() { return NewSpoolFileName(TempDirectory()); }

SpoolFile NewSpoolFile() { return NewSpoolFile(TempDirectory()); }

SpoolFile NewSpoolFile(const std::string& directory) {
  SpoolFile spool = MakeSpoolFile(directory);
  unlink(spool.name.c_str());
  return spool;
}

std::string NewSpoolFileName(const std::string& directory) {
  SpoolFile spool = MakeSpoolFile(directory);
  close(spool.descriptor);
  return spool.name;
}

}  // namespace tovrel::message
