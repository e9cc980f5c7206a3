#pragma once

// Text that the writer would send as it stands (the body, and text parts that no encoder
// changes) and how it reaches the wire. It goes out only as lines ended by CR LF: a CR LF, a lone
// CR or a lone LF inside an entry ends a line there, so no bare line end (the stuff of SMTP
// smuggling) reaches the server. Text that cannot pass through SMTP as it stands, because a line
// is longer than the 998 octets of RFC 5322, or it holds a control character other than TAB and
// form feed, or 8-bit bytes where the server does not take them (RFC 6152), goes out
// quoted-printable instead.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "message/body_file.h"
#include "message/locale_info.h"
#include "message/string_helpers.h"
#include "message/string_list.h"

namespace tovrel::net {

enum class TextForm { tfAsTyped, tfQuotedPrintable };

struct TextPlan {
  TextForm form = TextForm::tfAsTyped;
  bool eight_bit = false;  // the text holds bytes above 127

  bool EightBitOnWire() const { return form == TextForm::tfAsTyped && eight_bit; }
};

// Looks at text entry by entry and decides its form.
class TextScan {
 public:
  // `escapes_allowed`: ISO-2022-JP text carries ESC sequences of its own.
  explicit TextScan(bool escapes_allowed = false) : escapes_allowed_(escapes_allowed) {}

  void Add(std::string_view entry) { AddPiece(entry, true); }
  // A piece of an entry; `entry_ends`: the last one.
  void AddPiece(std::string_view piece, bool entry_ends);
  void AddAll(const message::StringList& entries) {
    for (const std::string& entry : entries) Add(entry);
  }
  // `eight_bit_allowed`: the server takes 8-bit text.
  TextPlan Plan(bool eight_bit_allowed) const;

 private:
  bool escapes_allowed_;
  // Of the line that the pieces so far leave open.
  size_t line_length_ = 0;
  bool long_line_ = false;
  bool control_ = false;
  bool eight_bit_ = false;
};

// Calls `take` with every line of `entry` as it goes out, without its line end.
template <class Take>
void ForEachWireLine(std::string_view entry, Take take) {
  message::LineEndFinder ends(entry);
  size_t start = 0;
  for (size_t end; (end = ends.From(start)) != std::string_view::npos;) {
    take(entry.substr(start, end - start));
    start = end + (entry[end] == '\r' && end + 1 < entry.size() && entry[end + 1] == '\n' ? 2 : 1);
  }
  take(entry.substr(start));
}

// Text entries that the writer goes through more than once (to plan them, then to write them):
// the entries of a list, or the lines of a body file, which are read again for every pass.
class BodyLines {
 public:
  explicit BodyLines(const message::StringList& entries) : entries_(&entries) {}
  explicit BodyLines(message::BodyFile& file) : file_(&file) {}

  // Calls `take` with every entry, first to last, in pieces as BodyFile::ForEachPiece hands on
  // a file's lines; an entry of a list comes whole. `restart`, when given, lets a body file's
  // first pass learn its encoding on the way: it is called when the entries handed on so far do
  // not count and they come again from the first.
  void ForEach(const message::BodyFile::PieceTaker& take,
               const std::function<void()>& restart = {}) const;
  // Whether an entry may hold a CR or an LF. The lines of a file never do.
  bool MayHoldLineEnds() const { return file_ == nullptr; }

 private:
  const message::StringList* entries_ = nullptr;
  message::BodyFile* file_ = nullptr;
};

// Joins the pieces of each entry, for work that needs an entry whole.
class EntryJoiner {
 public:
  template <class Take>
  void Add(std::string_view piece, bool entry_ends, Take take) {
    if (!entry_ends) {
      entry_.append(piece);
    } else if (entry_.empty()) {
      take(piece);
    } else {
      entry_.append(piece);
      take(std::string_view(entry_));
      entry_.clear();
    }
  }
  void Clear() { entry_.clear(); }

 private:
  std::string entry_;
};

// The character set of typed text in `locale`: UTF-8 under a UTF-8 code set, else the one its
// language names in header words. Shift_JIS text that is not converted is named as it stands.
std::string BodyCharset(const message::LocaleInfo& locale, bool converted_to_jis);

}  // namespace tovrel::net
