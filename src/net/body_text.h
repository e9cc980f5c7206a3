#pragma once

// Text that the writer would send as it stands (the body, and text parts that no encoder
// changes) and how it reaches the wire. It goes out only as lines ended by CR LF: a CR LF, a lone
// CR or a lone LF inside an entry ends a line there, so no bare line end (the stuff of SMTP
// smuggling) reaches the server. Text that cannot pass through SMTP as it stands, because a line
// is longer than the 998 octets of RFC 5322, or it holds a control character other than TAB and
// form feed, or 8-bit bytes where the server does not take them (RFC 6152), goes out
// quoted-printable instead.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "message/body_file.h"
#include "message/byte_masks.h"
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

// Looks at text entry by entry and decides its form; on the way it counts what the text comes to
// as typed on the wire (as WriteWireLines writes it), so that no pass of its own is needed.
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
  // The bytes of the text as typed on the wire: every line ended by CR LF, dot-stuffed.
  int64_t wire_size() const { return wire_size_; }
  // `take` is called with every line that begins with "--", as a delimiter line does (with the
  // first piece of one that comes in pieces).
  void set_dash_lines(std::function<void(std::string_view)> take) { dash_lines_ = std::move(take); }

 private:
  // Looks at the line that begins at piece[at].
  void LineStart(std::string_view piece, size_t at) {
    if (at < piece.size() && (piece[at] == '.' || piece[at] == '-')) DotOrDash(piece, at);
  }
  void DotOrDash(std::string_view piece, size_t at);

  bool escapes_allowed_;
  std::function<void(std::string_view)> dash_lines_;
  // Whether the next piece begins a line.
  bool line_start_ = true;
  int64_t wire_size_ = 0;
  // Of the line that the pieces so far leave open.
  size_t line_length_ = 0;
  bool long_line_ = false;
  bool control_ = false;
  bool eight_bit_ = false;
};

// Calls `take` with every line of `entry` as it goes out, without its line end. Entries run to a
// block of a body file's lines: their line ends are found kMaskBlock bytes at a time.
template <class Take>
void ForEachWireLine(std::string_view entry, Take take) {
  const char* data = entry.data();
  const size_t size = entry.size();
  size_t start = 0;
  message::ForEachMask(
      entry, message::LineEndMasks, message::LineEndMaskTail,
      [&](size_t block, std::uint64_t ends) {
        for (; ends != 0; ends &= ends - 1) {
          const size_t end = block + static_cast<size_t>(std::countr_zero(ends));
          if (end < start) continue;  // the LF of a CR LF, passed with its CR
          take(std::string_view(data + start, end - start));
          start = end + (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n' ? 2 : 1);
        }
      });
  take(std::string_view(data + start, size - start));
}

// The most bytes WriteWireLines makes of `size` bytes: every byte a line end, or every line a dot.
constexpr size_t WireLinesBound(size_t size) { return 2 * size + 3; }

// Writes the lines of `entry` at `out` as they go out as typed, each ended by CR LF as
// ForEachWireLine splits them, with the SMTP transparency rule (see DotStuffer) applied: a line
// that begins with "." gets another one. `line_start`: whether the entry's first byte begins a
// line on the wire. Returns how many bytes it wrote, at most WireLinesBound(entry.size()).
size_t WriteWireLines(std::string_view entry, bool line_start, char* out);

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
  // The same, but the lines of a body file come several to a piece as BodyFile::ForEachRun hands
  // them on, each but the last followed by its line end: a piece that ends its entry may hold
  // line ends whatever the source, one that does not never does.
  void ForEachRun(const message::BodyFile::PieceTaker& take,
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
