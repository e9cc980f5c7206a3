#include "store/reg_file_format.h"

#include <cstdio>
#include <vector>

namespace tovrel::store {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";

bool HasControl(std::string_view text) {
  for (char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x20 || code == 0x7F) return true;
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// A double-quoted text starting at text[pos]; on success `pos` is just past the closing quote.
std::optional<std::string> ParseQuoted(std::string_view text, std::size_t& pos) {
  if (pos >= text.size() || text[pos] != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) return std::nullopt;
      out += text[++i];
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ParseHexBytes(std::string_view text) {
  std::string bytes;
  std::size_t i = 0;
  auto skip_spaces = [&] {
    while (i < text.size() && IsSpace(text[i])) ++i;
  };
  skip_spaces();
  if (i == text.size()) return bytes;
  while (true) {
    skip_spaces();
    int value = 0;
    int digits = 0;
    while (i < text.size() && HexDigit(text[i]) >= 0 && digits < 2) {
      value = value * 16 + HexDigit(text[i++]);
      ++digits;
    }
    if (digits == 0) return std::nullopt;
    bytes += static_cast<char>(value);
    skip_spaces();
    if (i == text.size()) return bytes;
    if (text[i] != ',') return std::nullopt;
    ++i;
  }
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return value;
}

std::optional<RegValue> ParseData(std::string_view data) {
  if (!data.empty() && data.front() == '"') {
    std::size_t pos = 0;
    auto text = ParseQuoted(data, pos);
    if (!text || pos != data.size()) return std::nullopt;
    return RegValue::Text(std::move(*text));
  }
  if (data.starts_with("dword:")) {
    const auto number = ParseHexNumber(data.substr(6), 8);
    if (!number) return std::nullopt;
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((*number >> (8 * i)) & 0xFF);
    return RegValue{kRegDword, bytes};
  }
  std::uint32_t type = kRegBinary;
  std::string_view rest;
  if (data.starts_with("hex:")) {
    rest = data.substr(4);
  } else if (data.starts_with("hex(")) {
    const auto close = data.find("):");
    if (close == std::string_view::npos) return std::nullopt;
    const auto number = ParseHexNumber(data.substr(4, close - 4), 8);
    if (!number) return std::nullopt;
    type = *number;
    rest = data.substr(close + 2);
  } else {
    return std::nullopt;
  }
  auto bytes = ParseHexBytes(rest);
  if (!bytes) return std::nullopt;
  if ((type == kRegSz || type == kRegExpandSz) && !bytes->empty() && bytes->back() == '\0') {
    bytes->pop_back();
  }
  return RegValue{type, std::move(*bytes)};
}

std::optional<std::vector<std::string>> ParseKeyPath(std::string_view path) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (true) {
    const auto end = path.find('\\', start);
    const auto name = path.substr(start, end == std::string_view::npos ? path.npos : end - start);
    if (name.empty()) return std::nullopt;
    names.emplace_back(name);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (!SameName(names.front(), kRegRootName)) return std::nullopt;
  names.erase(names.begin());
  return names;
}

// The logical lines of the file: line ends removed, hex continuations ("\" at the end) joined.
std::vector<std::string> LogicalLines(std::string_view text) {
  std::vector<std::string> lines;
  bool continuing = false;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (continuing) {
      while (!line.empty() && IsSpace(line.front())) line.remove_prefix(1);
      lines.back() += line;
    } else {
      lines.emplace_back(line);
    }
    std::string& last = lines.back();
    continuing = !last.empty() && last.back() == '\\' && last.find("=hex") != std::string::npos;
    if (continuing) last.pop_back();
  }
  return lines;
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

void AppendHex(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ',';
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
}

void AppendValue(std::string& out, const std::string& name, const RegValue& value) {
  if (name.empty()) {
    out += '@';
  } else {
    AppendQuoted(out, name);
  }
  out += '=';
  if (value.type == kRegSz && !HasControl(value.data)) {
    AppendQuoted(out, value.data);
  } else if (value.type == kRegDword && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.data[i]);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    out += buffer;
  } else {
    if (value.type == kRegBinary) {
      out += "hex:";
    } else {
      char buffer[24];
      std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
      out += buffer;
    }
    std::string bytes = value.data;
    if (value.IsText()) bytes += '\0';
    AppendHex(out, bytes);
  }
  out += '\n';
}

void AppendKey(std::string& out, const RegKey& key, const std::string& path) {
  if (!key.values().empty() || key.children().empty()) {
    out += '[';
    out += path;
    out += "]\n";
    for (const auto& [name, value] : key.values()) AppendValue(out, name, value);
    out += '\n';
  }
  for (const auto& child : key.children()) AppendKey(out, *child, path + "\\" + child->name());
}

}  // namespace

bool IsStorableValueName(std::string_view name) { return !HasControl(name); }

bool IsStorableKeyName(std::string_view name) {
  return !name.empty() && !HasControl(name) && name.find('\\') == std::string_view::npos;
}

std::optional<RegKey> ParseRegFile(std::string_view text) {
  RegKey root(std::string{kRegRootName});
  if (text.empty()) return root;
  const auto lines = LogicalLines(text);
  if (lines.empty() || lines.front() != kHeader) return std::nullopt;
  RegKey* current = nullptr;
  for (std::size_t n = 1; n < lines.size(); ++n) {
    const std::string_view line = lines[n];
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return std::nullopt;
      const auto path = ParseKeyPath(line.substr(1, line.size() - 2));
      if (!path) return std::nullopt;
      current = &root.Create(*path);
      continue;
    }
    if (current == nullptr) return std::nullopt;
    std::string name;
    std::size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else {
      auto quoted = ParseQuoted(line, pos);
      if (!quoted) return std::nullopt;
      name = std::move(*quoted);
    }
    if (pos >= line.size() || line[pos] != '=') return std::nullopt;
    auto value = ParseData(line.substr(pos + 1));
    if (!value) return std::nullopt;
    current->SetValue(name, std::move(*value));
  }
  return root;
}

std::string SerializeRegFile(const RegKey& root) {
  std::string out(kHeader);
  out += "\n\n";
  if (!root.values().empty()) {
    out += '[';
    out += kRegRootName;
    out += "]\n";
    for (const auto& [name, value] : root.values()) AppendValue(out, name, value);
    out += '\n';
  }
  for (const auto& child : root.children()) {
    AppendKey(out, *child, std::string(kRegRootName) + "\\" + child->name());
  }
  return out;
}

}  // namespace tovrel::store
