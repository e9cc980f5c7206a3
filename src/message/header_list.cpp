#include "message/header_list.h"

#include "message/locale_info.h"
#include "message/string_helpers.h"

namespace tovrel::message {
namespace {

bool StartsWithBlank(std::string_view line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimRightSpaces(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

void HeaderList::Insert(std::size_t i, std::string line) {
  if (i > lines_.size()) i = lines_.size();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(i), std::move(line));
}

void HeaderList::Delete(std::size_t i) {
  if (i < lines_.size()) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
}

void HeaderList::AddStrings(const HeaderList& other) { AddStrings(other.lines_); }

void HeaderList::AddStrings(const StringList& lines) {
  lines_.insert(lines_.end(), lines.begin(), lines.end());
}

std::string HeaderList::NameAt(int i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= lines_.size()) return {};
  const std::string& line = lines_[static_cast<std::size_t>(i)];
  const std::string_view separator = TrimRightSpaces(value_separator_);
  if (separator.empty()) return {};
  const std::size_t p = line.find(separator);
  if (p == std::string::npos) return {};
  return match_case_ ? line.substr(0, p) : AsciiUpper(std::string_view(line).substr(0, p));
}

std::string HeaderList::ValueAt(int i) const {
  if (i < 0 || static_cast<std::size_t>(i) >= lines_.size()) return {};
  const std::string& first = lines_[static_cast<std::size_t>(i)];
  const std::size_t start = NameAt(i).size() + 1;
  std::string value = start < first.size() ? first.substr(start) : std::string();
  if (unfold_on_read_) {
    for (std::size_t j = static_cast<std::size_t>(i) + 1; j < lines_.size(); ++j) {
      const std::string& line = lines_[j];
      if (!StartsWithBlank(line)) break;
      if (value.empty() || !IsBlank(value.back())) value.push_back(' ');
      value.append(TrimLeftControl(line));
    }
  }
  return std::string(TrimLeftControl(value));
}

int HeaderList::IndexOfHeader(std::string_view name) const {
  // Same answer as comparing NameAt(i) with `name`, without building each name.
  const std::string_view separator = TrimRightSpaces(value_separator_);
  if (separator.empty()) return -1;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const std::string_view line(lines_[i]);
    const std::size_t p = line.find(separator);
    const std::string_view line_name = p == std::string_view::npos ? "" : line.substr(0, p);
    if (EqualsIgnoreCase(line_name, name)) return static_cast<int>(i);
  }
  return -1;
}

void HeaderList::SetHeader(std::string_view name, std::string_view value) {
  int i = IndexOfHeader(name);
  if (!value.empty()) {
    if (i < 0) {
      lines_.emplace_back();
      i = static_cast<int>(lines_.size()) - 1;
    }
    std::string text;
    text.reserve(name.size() + value_separator_.size() + value.size());
    text.append(name).append(value_separator_).append(value);
    if (fold_on_write_) {
      RemoveContinuations(i);
      FoldInto(text, i);
    } else {
      lines_[static_cast<std::size_t>(i)] = std::move(text);
    }
  } else if (i >= 0) {
    if (fold_on_write_) RemoveContinuations(i);
    Delete(static_cast<std::size_t>(i));
  }
}

void HeaderList::RemoveContinuations(int i) {
  if (i < 0) return;
  const std::size_t next = static_cast<std::size_t>(i) + 1;
  while (next < lines_.size() && StartsWithBlank(lines_[next])) Delete(next);
}

StringList HeaderList::FoldToLines(std::string_view text) const {
  // Nearly every field fits on its line and holds no line break: folding leaves it as it is.
  if (!text.empty() && text.size() < static_cast<std::size_t>(fold_width_) &&
      static_cast<unsigned char>(text.back()) > ' ' &&
      text.find_first_of("\r\n") == std::string_view::npos) {
    return {std::string(text)};
  }
  const std::string wrapped = WrapLine(text, "\r\n ", " \t", fold_width_);
  StringList result;
  std::string_view rest(wrapped);
  while (!rest.empty()) {
    const std::size_t p = rest.find("\r\n");
    std::string piece(TrimRightControl(rest.substr(0, p)));
    rest = p == std::string_view::npos ? std::string_view() : rest.substr(p + 2);
    // A CR or LF that is not part of a fold would end the field (or, at the server, the line)
    // early and let the rest pose as a header of its own: keep it inside this field instead.
    for (char& c : piece) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    if (TrimLeftControl(piece).empty()) continue;  // an empty entry would end the header block
    if (!result.empty() && !StartsWithBlank(piece)) piece.insert(piece.begin(), ' ');
    result.push_back(std::move(piece));
  }
  return result;
}

void HeaderList::FoldInto(std::string_view text, int i) {
  StringList pieces = FoldToLines(text);
  const std::size_t at = static_cast<std::size_t>(i);
  if (pieces.empty()) {
    Delete(at);
    return;
  }
  lines_[at] = std::move(pieces.back());
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end() - 1));
}

std::string WrapLine(std::string_view line, std::string_view break_text,
                     std::string_view break_chars, int max_col) {
  // Positions are 1-based as in the folding rules: at(p) is the p-th character.
  const std::size_t length = line.size();
  auto at = [&](std::size_t p) { return line[p - 1]; };
  auto is_break_char = [&](char c) { return break_chars.find(c) != std::string_view::npos; };
  std::string result;
  result.reserve(length + length / 16 + 8);
  std::size_t pos = 1;
  long long col = 1;
  std::size_t line_start = 1;
  std::size_t break_pos = 0;
  char quote = ' ';
  bool existing_break = false;
  char ch = '\0';
  while (pos <= length) {
    ch = at(pos);
    if (IsLeadByte(static_cast<unsigned char>(ch))) {
      ++pos;
      ++col;
    } else if (!break_text.empty() && ch == break_text[0] && quote == ' ') {
      const std::string_view here = line.substr(pos - 1, break_text.size());
      existing_break = EqualsIgnoreCase(here, break_text);
      // An encoded header text folds with CR LF TAB; take that as a break already made, or the
      // TAB would become a break point of its own and leave an empty line behind.
      if (!existing_break && break_text.size() == 3 && break_text.substr(0, 2) == "\r\n" &&
          here.size() == 3 && here.substr(0, 2) == "\r\n" && IsBlank(here[2])) {
        existing_break = true;
      }
      if (existing_break) {
        pos += break_text.size() - 1;
        break_pos = pos;
      }
    } else if (is_break_char(ch) && quote == ' ') {
      break_pos = pos;
    } else if (ch == '"') {
      if (quote == '"') {
        quote = ' ';
      } else if (quote == ' ') {
        quote = '"';
      }
    }
    ++pos;
    ++col;
    if (quote != '"' && (existing_break || (col > max_col && break_pos > line_start))) {
      col = static_cast<long long>(pos) - static_cast<long long>(break_pos);
      result.append(line.substr(line_start - 1, break_pos - line_start + 1));
      if (ch != '"') {
        while (pos <= length && (is_break_char(at(pos)) || at(pos) == '\r' || at(pos) == '\n')) {
          ++pos;
        }
      }
      if (!existing_break && pos < length) result.append(break_text);
      ++break_pos;
      line_start = break_pos;
      existing_break = false;
    }
  }
  if (line_start <= length) result.append(line.substr(line_start - 1));
  return result;
}

}  // namespace tovrel::message
