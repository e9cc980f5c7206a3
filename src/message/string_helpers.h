#pragma once

// Small text and file helpers shared by the message model, the coders and the network layer:
// token cutting, substring search that respects double-byte characters, spool files for the
// message writer, Shift_JIS to ISO-2022-JP conversion, and the main-thread test.

#include <initializer_list>
#include <string>
#include <string_view>

namespace tovrel::message {

// `pattern` with its "%s" placeholders replaced by `arguments`, left to right; placeholders
// beyond the arguments are left out. Every layer's texts with placeholders are filled here.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> arguments);

// The UTF-8 character at the start of `text`: its length in bytes and its code point, or a
// length of 0 when the bytes there are not well-formed UTF-8 (overlong forms, surrogates and
// code points past U+10FFFF are not).
struct Utf8Char {
  std::size_t length = 0;
  char32_t code = 0;
};
Utf8Char DecodeUtf8(std::string_view text);
// Whether all of `text` is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);
// Appends the bytes of ISO-8859-1 text to `utf8` as UTF-8.
void AppendLatin1AsUtf8(std::string_view text, std::string& utf8);

// The line ends of a text, one after another: the next CR or LF at or after a position. Each byte
// is looked at once for each of the two, however short the lines are, so that long texts are
// split into lines at the speed of memchr().
class LineEndFinder {
 public:
  explicit LineEndFinder(std::string_view text);
  // The position of the first CR or LF at or after `from`; npos when there is none. `from` does
  // not go back from one call to the next.
  std::size_t From(std::size_t from);

 private:
  std::size_t Find(char c, std::size_t from) const;

  std::string_view text_;
  std::size_t next_cr_;
  std::size_t next_lf_;
};

// Returns the part of `text` before the first `delimiter`. With `remove`, `text` loses everything
// up to and including that delimiter. Without a delimiter in `text` the whole text is returned
// (and `text` becomes empty when `remove` is set).
std::string CutToken(std::string& text, std::string_view delimiter, bool remove = true);

// 1-based position of the first `sub` in `text`, 0 when absent or when `sub` is empty. Under a
// double-byte code set (ApplyCodeSet) a match starting on a trail byte does not count.
std::size_t FindSubstring(std::string_view sub, std::string_view text);

// $TMPDIR (else /tmp) with a trailing "/"; fixed at the first call.
const std::string& TempDirectory();

// Creates a new empty file (mode 0600) with a unique name "Tov??????.tmp" in `directory` (default
// TempDirectory()) and returns its path. The caller deletes it. Throws FileError when no file can
// be created.
std::string NewSpoolFileName();
std::string NewSpoolFileName(const std::string& directory);

// A spool file made as NewSpoolFileName makes one, whose name is removed at once: it lives only
// as long as `descriptor` (open for reading and writing, close-on-exec), so nothing is left
// behind whatever ends the process, and nobody can put another file in its place. The caller
// closes the descriptor; `name` is only for messages.
struct SpoolFile {
  int descriptor = -1;
  std::string name;
};
SpoolFile NewSpoolFile();
SpoolFile NewSpoolFile(const std::string& directory);

// Shift_JIS bytes to ISO-2022-JP (ESC $ B ... ESC ( B). Half-width katakana become their
// full-width forms (with a following voicing mark folded in where one exists); bytes that have no
// mapping are dropped. Never fails.
std::string ShiftJisToJis(std::string_view text);

// True on the thread that started the program (the one that ran static initialisation).
bool OnGuiThread();

// ASCII-only helpers used across the layer.
char AsciiUpper(char c);
std::string AsciiUpper(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Removes leading/trailing bytes of code 0..32 (spaces and control characters).
std::string_view TrimControl(std::string_view text);
std::string_view TrimLeftControl(std::string_view text);
std::string_view TrimRightControl(std::string_view text);

}  // namespace tovrel::message
