#pragma once

#include <string>
#include <vector>

namespace tovrel::app {

// The lines of a text file as UTF-8: a file that is valid UTF-8 is taken as such (a byte-order
// mark at its start dropped), any other as ISO-8859-1. Lines end at LF, CR LF or CR; a line
// break at the very end adds no empty line. Raises FileError "Cannot open file "%s": <reason>"
// when it cannot be read.
std::vector<std::string> ReadTextLines(const std::string& path);

// The lines of a text as a memo holds them: split at LF; an empty text has no lines.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace tovrel::app
