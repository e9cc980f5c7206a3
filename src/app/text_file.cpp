#include "app/text_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "app/app_errors.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/body_file.h"
#include "message/input_file.h"
#include "message/message_error.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

[[noreturn]] void FailOpen(const std::string& path, int error) {
  throw FileError(
      message::FormatText(texts::kCannotOpenFile, {VisibleText(path), std::strerror(error)}));
}

}  // namespace

void CheckTextFile(const std::string& path) {
  // The system's reason for a file that is not there or not reachable.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) FailOpen(path, errno);
  try {
    message::CheckInputFile(path);
  } catch (const message::FileError& error) {
    throw FileError(VisibleText(error.what()));
  }
}

std::vector<std::string> ReadTextLines(const std::string& path, int wait_limit_ms) {
  CheckTextFile(path);
  std::vector<std::string> lines;
  try {
    message::BodyFile file(path, wait_limit_ms);
    file.ForEachLine([&lines](std::string_view line) { lines.emplace_back(line); },
                     [&lines] { lines.clear(); });
  } catch (const message::FileError& error) {
    throw FileError(VisibleText(error.what()));
  }
  return lines;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  std::size_t start = 0;
  while (true) {
    const auto end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace tovrel::app
