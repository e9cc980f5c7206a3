#include "message/message_error.h"

#include <string_view>

namespace tovrel::message {

std::string FormatText(const char* pattern, const std::string& first, const std::string& second) {
  std::string_view rest(pattern);
  std::string result;
  int used = 0;
  for (std::size_t p = rest.find("%s"); p != std::string_view::npos; p = rest.find("%s")) {
    result.append(rest.substr(0, p));
    result.append(used == 0 ? first : second);
    ++used;
    rest.remove_prefix(p + 2);
  }
  result.append(rest);
  return result;
}

AssignError::AssignError(const std::string& source_class, const std::string& target_class)
    : MessageError(FormatText(texts::kCannotAssign, source_class, target_class)) {}

}  // namespace tovrel::message
