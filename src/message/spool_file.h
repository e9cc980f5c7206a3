#pragma once

// Temporary files of the message writer, made so that none is left behind.

#include <string>

namespace tovrel::message {

// $TMPDIR (else /tmp) with a trailing "/"; fixed at the first call.
const std::string& TempDirectory();

// Creates a new empty file (mode 0600) with a unique name "Tov??????.tmp" in `directory` (default
// TempDirectory()) and returns its path. The caller deletes it. Throws FileError when no file can
// be created.
std::string NewSpoolFileName();
std::string NewSpoolFileName(const std::string& directory);

// A spool file made as NewSpoolFileName makes one, whose name is removed at once: it lives only
// as long as `descriptor` (open for reading and writing, close-on-exec), so nothing is left
// behind whatever ends the process, and nobody can put another file in its place. The caller
// closes the descriptor; `name` is only for messages.
struct SpoolFile {
  int descriptor = -1;
  std::string name;
};
SpoolFile NewSpoolFile();
SpoolFile NewSpoolFile(const std::string& directory);

}  // namespace tovrel::message
