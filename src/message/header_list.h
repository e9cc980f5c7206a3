#pragma once

// HeaderList: RFC 822 header fields stored one physical line per entry. Fields are found by name
// without regard to case, folded at 78 columns when set, and unfolded when read. Used for a
// message's extra headers, each part's headers and the generated header block.

#include <string>
#include <string_view>

#include "message/string_list.h"

namespace tovrel::message {

class HeaderList {
 public:
  HeaderList() = default;

  // --- the string list -----------------------------------------------------------------------
  std::size_t count() const { return lines_.size(); }
  bool empty() const { return lines_.empty(); }
  const std::string& operator[](std::size_t i) const { return lines_[i]; }
  std::string& operator[](std::size_t i) { return lines_[i]; }
  const StringList& lines() const { return lines_; }
  StringList::const_iterator begin() const { return lines_.begin(); }
  StringList::const_iterator end() const { return lines_.end(); }

  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Insert(std::size_t i, std::string line);
  void Delete(std::size_t i);
  void Clear() { lines_.clear(); }
  // Appending or copying lines does no folding.
  void AddStrings(const HeaderList& other);
  void AddStrings(const StringList& lines);
  void Assign(const HeaderList& other) { lines_ = other.lines_; }
  void Assign(const StringList& lines) { lines_ = lines; }

  // --- settings (every list in the program keeps the defaults) --------------------------------
  const std::string& value_separator() const { return value_separator_; }
  void set_value_separator(std::string separator) { value_separator_ = std::move(separator); }
  bool match_case() const { return match_case_; }
  void set_match_case(bool on) { match_case_ = on; }
  bool unfold_on_read() const { return unfold_on_read_; }
  void set_unfold_on_read(bool on) { unfold_on_read_ = on; }
  bool fold_on_write() const { return fold_on_write_; }
  void set_fold_on_write(bool on) { fold_on_write_ = on; }
  int fold_width() const { return fold_width_; }
  void set_fold_width(int width) { fold_width_ = width; }

  // --- header fields --------------------------------------------------------------------------
  // Name of line i (upper-cased unless match_case); empty for a line without ":".
  std::string NameAt(int i) const;
  // Value of the field starting at line i with its continuation lines joined; empty for i < 0.
  std::string ValueAt(int i) const;
  // First line whose name equals `name` ignoring case, or -1.
  int IndexOfHeader(std::string_view name) const;
  std::string ValueOf(std::string_view name) const { return ValueAt(IndexOfHeader(name)); }
  // Adds, replaces (in place, with the caller's spelling of the name) or, for an empty value,
  // removes the field. A CR or LF in the value never starts a new field.
  void SetHeader(std::string_view name, std::string_view value);

  void RemoveContinuations(int i);
  StringList FoldToLines(std::string_view text) const;
  void FoldInto(std::string_view text, int i);

 private:
  StringList lines_;
  std::string value_separator_ = ": ";
  bool match_case_ = false;
  bool unfold_on_read_ = true;
  bool fold_on_write_ = true;
  int fold_width_ = 78;
};

// Returns `line` with `break_text` inserted after chosen `break_chars` so that lines stay within
// `max_col` where a break character outside double quotes allows it. An existing break (the break
// text, or CR LF followed by a TAB) is kept as it is. Double-byte characters are never split.
std::string WrapLine(std::string_view line, std::string_view break_text,
                     std::string_view break_chars, int max_col);

}  // namespace tovrel::message
