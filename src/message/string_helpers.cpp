#include "message/string_helpers.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "message/byte_masks.h"
#include "message/locale_info.h"

namespace tovrel::message {

std::string FormatText(std::string_view pattern,
                       std::initializer_list<std::string_view> arguments) {
  std::string result;
  auto next = arguments.begin();
  for (auto at = pattern.find("%s"); at != std::string_view::npos; at = pattern.find("%s")) {
    result.append(pattern.substr(0, at));
    if (next != arguments.end()) result.append(*next++);
    pattern.remove_prefix(at + 2);
  }
  result.append(pattern);
  return result;
}
namespace {

bool IsControlOrSpace(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string AsciiUpper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiUpper(c);
  return result;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

std::string_view TrimLeftControl(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && IsControlOrSpace(text[start])) ++start;
  return text.substr(start);
}

std::string_view TrimRightControl(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsControlOrSpace(text[end - 1])) --end;
  return text.substr(0, end);
}

std::string_view TrimControl(std::string_view text) {
  return TrimRightControl(TrimLeftControl(text));
}

std::size_t FindSubstring(std::string_view sub, std::string_view text) {
  if (sub.empty() || sub.size() > text.size()) return 0;
  if (!HasLeadBytes() || sub == std::string_view("\0", 1)) {
    const std::size_t p = text.find(sub);
    return p == std::string_view::npos ? 0 : p + 1;
  }
  // Walk character by character so that a match can only start on a first byte.
  std::size_t i = 0;
  while (i + sub.size() <= text.size()) {
    if (text.compare(i, sub.size(), sub) == 0) return i + 1;
    i += IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
  }
  return 0;
}

std::string CutToken(std::string& text, std::string_view delimiter, bool remove) {
  const std::size_t p = FindSubstring(delimiter, text);
  if (p == 0) {
    std::string token = std::move(text);
    if (!remove) {
      text = token;
    } else {
      text.clear();
    }
    return token;
  }
  std::string token = text.substr(0, p - 1);
  if (remove) text.erase(0, p - 1 + delimiter.size());
  return token;
}

std::size_t LineEndFinder::From(std::size_t from) {
  if (from >= text_.size()) return std::string_view::npos;
  std::size_t block = from - from % kMaskBlock;
  if (block != block_) Load(block);
  std::uint64_t ends = ends_ & (~std::uint64_t{0} << (from - block));
  while (ends == 0) {
    block += kMaskBlock;
    if (block >= text_.size()) return std::string_view::npos;
    Load(block);
    ends = ends_;
  }
  return block + static_cast<std::size_t>(std::countr_zero(ends));
}

void LineEndFinder::Load(std::size_t block) {
  block_ = block;
  const std::size_t left = text_.size() - block;
  ends_ = left >= kMaskBlock ? LineEndMask(text_.data() + block)
                             : LineEndMaskTail(text_.data() + block, left);
}

}  // namespace tovrel::message
