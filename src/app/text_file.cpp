#include "app/text_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "app/app_errors.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/input_file.h"
#include "message/message_error.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

[[noreturn]] void FailOpen(const std::string& path, int error) {
  throw FileError(
      message::FormatText(texts::kCannotOpenFile, {VisibleText(path), std::strerror(error)}));
}

// The program's text is UTF-8. A file that is not is taken as ISO-8859-1, the one reading under
// which every byte is a character, so that nothing is lost or sent mislabelled.
std::string AsUtf8(std::string text) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (!message::IsValidUtf8(text)) return Latin1ToUtf8(text);
  if (text.starts_with(kByteOrderMark)) text.erase(0, kByteOrderMark.size());
  return text;
}

}  // namespace

std::vector<std::string> ReadTextLines(const std::string& path, int wait_limit_ms) {
  // The system's reason for a file that is not there or not reachable.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) FailOpen(path, errno);
  std::string text;
  try {
    message::InputFile file(path, wait_limit_ms);
    char buffer[65536];
    while (const std::size_t n = file.Read(buffer)) text.append(buffer, n);
  } catch (const message::FileError& error) {
    throw FileError(VisibleText(error.what()));
  }
  text = AsUtf8(std::move(text));

  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
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
