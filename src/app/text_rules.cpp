#include "app/text_rules.h"

#include <limits>

#include "app/app_errors.h"
#include "app/texts.h"

namespace tovrel::app {

namespace {

bool IsBlank(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

}  // namespace

std::string FormatText(std::string_view pattern, std::string_view argument) {
  std::string text(pattern);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, argument);
  return text;
}

std::string FormatText(std::string_view pattern, std::string_view first, std::string_view second) {
  std::string text(pattern);
  const auto at = text.find("%s");
  if (at == std::string::npos) return text;
  text.replace(at, 2, first);
  const auto next = text.find("%s", at + first.size());
  if (next != std::string::npos) text.replace(next, 2, second);
  return text;
}

std::optional<int> ParseInt(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  long long value = 0;
  const long long limit = negative ? -static_cast<long long>(std::numeric_limits<int>::min())
                                   : std::numeric_limits<int>::max();
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > limit) return std::nullopt;
  }
  return static_cast<int>(negative ? -value : value);
}

int StrToIntDef(std::string_view text, int fallback) { return ParseInt(text).value_or(fallback); }

int StrToInt(std::string_view text) {
  const auto value = ParseInt(text);
  if (!value) throw ConversionError(FormatText(texts::kNotAnInteger, text));
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
