#pragma once

// ExStringList: the HTTP client's list of request header lines.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tovrel::http {

// The header lines of a request, each "Name: value". Names compare without regard to letter
// case. A sorted list keeps its lines ordered by name, so a lookup can bisect.
class ExStringList {
 public:
  int Count() const { return int(lines_.size()); }
  const std::string& operator[](int index) const { return lines_.at(std::size_t(index)); }
  const std::vector<std::string>& lines() const { return lines_; }

  bool sorted() const { return sorted_; }
  void set_sorted(bool sorted);

  // Appends the line, or inserts it in name order when the list is sorted; returns its index.
  int Add(std::string line);
  void Delete(int index);
  void Clear() { lines_.clear(); }

  // Index of the first line whose text before its first colon equals `name` (any letter
  // case), or -1. Lines without a colon are skipped.
  int FindHeader(std::string_view name) const;
  // Replaces that line by "name: value", or adds one; an empty value deletes the line.
  void SetHeaderValue(std::string_view name, std::string_view value);

 private:
  std::vector<std::string> lines_;
  bool sorted_ = false;
};

}  // namespace tovrel::http
