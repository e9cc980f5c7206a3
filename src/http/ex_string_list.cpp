#include "http/ex_string_list.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <utility>

namespace tovrel::http {
namespace {

// The name part of a line: the text before its first colon; a line without one has none.
bool NameOf(std::string_view line, std::string_view& name) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  name = line.substr(0, colon);
  return true;
}

// Case-insensitive three-way comparison of two names.
int CompareNames(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Sort key of a line: its name, or the whole line when it has no colon.
std::string_view KeyOf(std::string_view line) {
  std::string_view name;
  return NameOf(line, name) ? name : line;
}

bool KeyLess(const std::string& a, const std::string& b) {
  return CompareNames(KeyOf(a), KeyOf(b)) < 0;
}

}  // namespace

void ExStringList::set_sorted(bool sorted) {
  sorted_ = sorted;
  if (sorted_) std::stable_sort(lines_.begin(), lines_.end(), KeyLess);
}

int ExStringList::Add(std::string line) {
  if (!sorted_) {
    lines_.push_back(std::move(line));
    return Count() - 1;
  }
  const auto at = std::upper_bound(lines_.begin(), lines_.end(), line, KeyLess);
  return int(lines_.insert(at, std::move(line)) - lines_.begin());
}

void ExStringList::Delete(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("ExStringList::Delete");
  lines_.erase(lines_.begin() + index);
}

int ExStringList::FindHeader(std::string_view name) const {
  if (!sorted_) {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      std::string_view line_name;
      if (NameOf(lines_[i], line_name) && CompareNames(line_name, name) == 0) return int(i);
    }
    return -1;
  }
  // First line whose key is not below `name`; lines without a colon sort by their whole text
  // and never match.
  std::size_t low = 0;
  std::size_t high = lines_.size();
  while (low < high) {
    const std::size_t mid = low + (high - low) / 2;
    if (CompareNames(KeyOf(lines_[mid]), name) < 0) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  for (std::size_t i = low; i < lines_.size() && CompareNames(KeyOf(lines_[i]), name) == 0; ++i) {
    std::string_view line_name;
    if (NameOf(lines_[i], line_name)) return int(i);
  }
  return -1;
}

void ExStringList::SetHeaderValue(std::string_view name, std::string_view value) {
  const int index = FindHeader(name);
  if (value.empty()) {
    if (index >= 0) Delete(index);
    return;
  }
  std::string line(name);
  line += ": ";
  line += value;
  if (index < 0) {
    Add(std::move(line));
  } else {
    lines_[std::size_t(index)] = std::move(line);
  }
}

}  // namespace tovrel::http
