#include "app/text_rules.h"

#include "app/app_errors.h"
#include "app/texts.h"
#include "message/string_helpers.h"
#include "store/stored_integer.h"

namespace tovrel::app {

namespace {

bool IsBlank(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

}  // namespace

int StrToInt(std::string_view text) {
  const auto value = store::ParseInt(text);
  if (!value) throw ConversionError(message::FormatText(texts::kNotAnInteger, {text}));
  return *value;
}

std::vector<std::string> CommaTextSplit(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> items;
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto skip_blanks = [&] {
    while (i < n && IsBlank(text[i])) ++i;
  };
  skip_blanks();
  while (i < n) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;  // the closing quote
          break;
        }
        item += text[i++];
      }
    } else {
      const std::size_t start = i;
      while (i<n&& static_cast<unsigned char>(text[i])> 32 && text[i] != ',') ++i;
      item.assign(text.substr(start, i - start));
    }
    items.push_back(std::move(item));
    skip_blanks();
    if (i < n && text[i] == ',') {
      if (i + 1 == n) items.emplace_back();
      ++i;
      skip_blanks();
    }
  }
  return items;
}

}  // namespace tovrel::app
