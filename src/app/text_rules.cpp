#include "app/text_rules.h"

#include <algorithm>

#include "app/app_errors.h"
#include "app/texts.h"
#include "message/string_helpers.h"
#include "message/utf8_text.h"
#include "store/stored_integer.h"

namespace tovrel::app {

namespace {

bool IsBlank(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

}  // namespace

bool HasControlCharacter(std::string_view utf8) {
  while (!utf8.empty()) {
    const message::Utf8Char c = message::DecodeUtf8(utf8);
    if (c.length != 0 && IsControl(c.code)) return true;
    utf8.remove_prefix(std::max<std::size_t>(c.length, 1));
  }
  return false;
}

std::string VisibleText(std::string_view text) {
  std::string visible;
  visible.reserve(text.size());
  while (!text.empty()) {
    const message::Utf8Char c = message::DecodeUtf8(text);
    if (c.length == 0 || (IsControl(c.code) && c.code != '\t') || message::IsBidiControl(c.code)) {
      visible += '?';
      text.remove_prefix(std::max<std::size_t>(c.length, 1));
    } else {
      visible.append(text.substr(0, c.length));
      text.remove_prefix(c.length);
    }
  }
  return visible;
}

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

std::string OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      line += ' ';
    } else if (text[i] == '\n') {
      line += ' ';
    } else {
      line += text[i];
    }
  }
  return line;
}

std::string ErrorReportText(const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
    text += '.';
  }
  return text;
}

}  // namespace tovrel::app
