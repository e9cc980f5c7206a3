#pragma once

// A text file whose lines make a message body, read in blocks and handed on line by line, so
// that its size never shows in memory; a line longer than a block is handed on in pieces, so
// that its length never shows either. The writer goes through it
// more than once: to learn what the text holds before the envelope is sent, then to send it.
//
// The text is taken as UTF-8 when all of it is well-formed UTF-8 (a byte-order mark at its start
// dropped), else as ISO-8859-1, the one reading under which every byte is a character; the lines
// are handed on as UTF-8 either way. Lines end at LF, CR LF or CR; a line break at the very end
// adds no empty line. A regular file is read again from its start for every pass, and a pass
// over a file that was written to since it was opened fails. A pipe cannot be read twice: it is
// copied to an unnamed spool file as it is opened, and read from there; a pipe that brings more
// than the spool limit is refused as soon as it has, so that an endless writer cannot fill the
// disk.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "message/input_file.h"

namespace tovrel::message {

// The most bytes a piped body is spooled with.
inline constexpr std::int64_t kPipeSpoolLimit = std::int64_t{2} << 30;

class BodyFile {
 public:
  // Opens `path` as InputFile does (`wait_limit_ms` as there); a pipe is read to its end into
  // the spool file. Raises FileError when it cannot be opened, read or spooled, or when a pipe
  // brings more than `spool_limit` bytes.
  BodyFile(const std::string& path, int wait_limit_ms, std::int64_t spool_limit = kPipeSpoolLimit);
  BodyFile(const BodyFile&) = delete;
  BodyFile& operator=(const BodyFile&) = delete;

  const std::string& path() const { return file_.path(); }

  // Calls `take` with every line, first to last, without its line end, in pieces: `line_ends`
  // marks the last piece of a line. A line up to kLinePiece bytes comes whole; every piece but
  // the last of a longer one holds at least kLinePiece bytes and less than three times as many,
  // so its first piece shows how the line begins. Each view lasts until
  // `take` returns. Raises FileError when the file cannot be read, or has changed since it was
  // opened. The encoding of a regular file is learnt from all of its bytes before the first line
  // is handed on, which takes a pass of its own; a caller that gives `restart` saves that pass:
  // the first pass then assumes UTF-8 and learns on the way, and should the text turn out to be
  // ISO-8859-1 after all, `restart` is called and the lines are handed on once more from the
  // first.
  using PieceTaker = std::function<void(std::string_view piece, bool line_ends)>;
  void ForEachPiece(const PieceTaker& take, const std::function<void()>& restart = {});
  // The same, but the whole lines that a block of the file holds come as one piece, each but the
  // last followed by its line end as the file has it (LF, CR LF or CR), for a reader that goes
  // through them faster than it could take them one at a time. A piece that does not end its
  // line holds no line end, and a line cut by a block comes as ForEachPiece hands it on.
  void ForEachRun(const PieceTaker& take, const std::function<void()>& restart = {});
  // The same with every line whole, for a reader that keeps the lines anyway.
  void ForEachLine(const std::function<void(std::string_view)>& take,
                   const std::function<void()>& restart = {});

  static constexpr std::size_t kLinePiece = 64 * 1024;

 private:
  // Reads the file through to learn its encoding.
  void Learn();
  // One pass over the lines. `learning`: the encoding is learnt on the way; returns false as
  // soon as the text proves not to be UTF-8, having handed on lines taken as UTF-8.
  bool Pass(const PieceTaker& take, bool learning, bool runs);
  void Passes(const PieceTaker& take, const std::function<void()>& restart, bool runs);
  // Fills `area` from the current position; less only at the end.
  std::size_t Fill(std::span<char> area);
  void Rewind();
  void CopyToSpool(std::string_view bytes);

  // Closes its descriptor with itself.
  struct Descriptor {
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();
    int fd = -1;
  };

  InputFile file_;
  // The bytes of a pipe; none for a regular file, which is read itself.
  Descriptor spool_;
  std::string spool_name_;
  bool encoding_known_ = false;
  bool utf8_ = true;
  std::vector<char> block_;
  // The part of a line that a block boundary cut, or one converted from ISO-8859-1.
  std::string line_;
};

}  // namespace tovrel::message
