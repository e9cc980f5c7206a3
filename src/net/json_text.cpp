#include "net/json_text.h"

namespace tovrel::net {

std::string JsonText(std::string_view document, std::string_view key) {
  const std::string quoted = "\"" + std::string(key) + "\"";
  size_t at = document.find(quoted);
  if (at == std::string_view::npos) return {};
  at = document.find(':', at + quoted.size());
  if (at == std::string_view::npos) return {};
  at = document.find_first_not_of(" \t\r\n", at + 1);
  if (at == std::string_view::npos) return {};
  if (document[at] != '"') {
    const size_t end = document.find_first_of(",} \t\r\n", at);
    return std::string(document.substr(at, end == std::string_view::npos ? end : end - at));
  }
  std::string value;
  for (size_t i = at + 1; i < document.size() && document[i] != '"'; ++i) {
    if (document[i] == '\\' && i + 1 < document.size()) ++i;
    value.push_back(document[i]);
  }
  return value;
}

}  // namespace tovrel::net
