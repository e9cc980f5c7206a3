#include "message/body_file.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "message/message_error.h"
#include "message/spool_file.h"
#include "message/string_helpers.h"
#include "message/texts.h"
#include "message/utf8_text.h"

namespace tovrel::message {

namespace {

// Few reads per pass, and nothing that shows beside the rest of the program.
constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The length of the UTF-8 sequence that `lead` begins; 0 for a byte that begins none.
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

constexpr std::size_t kNone = std::string_view::npos;

// The position of the last CR or LF in `text` at or after `from`; kNone when there is none.
std::size_t LastLineEnd(std::string_view text, std::size_t from) {
  const char* data = text.data();
  const void* lf = ::memrchr(data + from, '\n', text.size() - from);
  const std::size_t after_lf =
      lf == nullptr ? from : static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
  // A CR after the last LF is later still; none is looked for before it.
  const void* cr = ::memrchr(data + after_lf, '\r', text.size() - after_lf);
  if (cr != nullptr) return static_cast<std::size_t>(static_cast<const char*>(cr) - data);
  return lf == nullptr ? kNone : after_lf - 1;
}

// Whether text that comes in pieces is well-formed UTF-8 as a whole: a character that the end of
// one piece cuts is completed from the next.
class Utf8Check {
 public:
  void Add(std::string_view piece) {
    if (!valid_) return;
    if (!carry_.empty()) {
      const std::size_t length = SequenceLength(static_cast<unsigned char>(carry_[0]));
      while (!piece.empty() && carry_.size() < length) {
        carry_.push_back(piece.front());
        piece.remove_prefix(1);
      }
      if (carry_.size() < length) return;
      valid_ = DecodeUtf8(carry_).length == length;
      carry_.clear();
      if (!valid_) return;
    }
    const std::size_t cut = CutCharacter(piece);
    valid_ = IsValidUtf8(piece.substr(0, piece.size() - cut));
    carry_.assign(piece.substr(piece.size() - cut));
  }
  // False once the text is known not to be UTF-8.
  bool valid_so_far() const { return valid_; }
  bool valid_at_end() const { return valid_ && carry_.empty(); }

 private:
  // How many bytes at the end of `piece` begin a character that goes on past it.
  static std::size_t CutCharacter(std::string_view piece) {
    for (std::size_t back = 1; back <= 3 && back <= piece.size(); ++back) {
      const auto byte = static_cast<unsigned char>(piece[piece.size() - back]);
      if ((byte & 0xC0) == 0x80) continue;
      return SequenceLength(byte) > back ? back : 0;
    }
    return 0;
  }

  bool valid_ = true;
  std::string carry_;
};

}  // namespace

BodyFile::Descriptor::~Descriptor() {
  if (fd >= 0) ::close(fd);
}

BodyFile::BodyFile(const std::string& path, int wait_limit_ms, std::int64_t spool_limit)
    : file_(path, wait_limit_ms), block_(kBlockSize) {
  if (file_.kind() == InputFileKind::ifRegular) return;
  SpoolFile spool = NewSpoolFile();
  spool_.fd = spool.descriptor;
  spool_name_ = std::move(spool.name);
  // The copy learns the encoding as well.
  Utf8Check check;
  std::int64_t spooled = 0;
  for (;;) {
    std::size_t got = 0;
    while (got < block_.size()) {
      const std::size_t n = file_.Read(std::span<char>(block_).subspan(got));
      if (n == 0) break;
      got += n;
    }
    spooled += static_cast<std::int64_t>(got);
    if (spooled > spool_limit) {
      throw FileError(FormatText(texts::kSpoolLimitReached, {path, std::to_string(spool_limit)}));
    }
    const std::string_view bytes(block_.data(), got);
    CopyToSpool(bytes);
    check.Add(bytes);
    if (got < block_.size()) break;
  }
  utf8_ = check.valid_at_end();
  encoding_known_ = true;
}

void BodyFile::Learn() {
  Rewind();
  Utf8Check check;
  for (;;) {
    const std::size_t got = Fill(block_);
    check.Add(std::string_view(block_.data(), got));
    // Nothing more to learn once a byte is not UTF-8.
    if (got < block_.size() || !check.valid_so_far()) break;
  }
  utf8_ = check.valid_at_end();
  encoding_known_ = true;
}

void BodyFile::CopyToSpool(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(spool_.fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw FileError(FormatText(texts::kFileWriteError, {spool_name_}));
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void BodyFile::Rewind() {
  if (spool_.fd < 0) {
    file_.Rewind();
  } else if (::lseek(spool_.fd, 0, SEEK_SET) != 0) {
    throw FileError(FormatText(texts::kInputReadError, {path()}));
  }
}

std::size_t BodyFile::Fill(std::span<char> area) {
  std::size_t got = 0;
  while (got < area.size()) {
    std::size_t n = 0;
    if (spool_.fd < 0) {
      n = file_.Read(area.subspan(got));
    } else {
      const ssize_t read = ::read(spool_.fd, area.data() + got, area.size() - got);
      if (read < 0 && errno == EINTR) continue;
      if (read < 0) throw FileError(FormatText(texts::kInputReadError, {path()}));
      n = static_cast<std::size_t>(read);
    }
    if (n == 0) break;
    got += n;
  }
  return got;
}

void BodyFile::ForEachPiece(const PieceTaker& take, const std::function<void()>& restart) {
  Passes(take, restart, false);
}

void BodyFile::ForEachRun(const PieceTaker& take, const std::function<void()>& restart) {
  Passes(take, restart, true);
}

void BodyFile::Passes(const PieceTaker& take, const std::function<void()>& restart, bool runs) {
  if (!encoding_known_ && !restart) Learn();
  if (!encoding_known_) {
    if (Pass(take, true, runs)) return;
    restart();
  }
  Pass(take, false, runs);
}

void BodyFile::ForEachLine(const std::function<void(std::string_view)>& take,
                           const std::function<void()>& restart) {
  std::string whole;
  auto join = [&](std::string_view piece, bool line_ends) {
    if (!line_ends) {
      whole.append(piece);
    } else if (whole.empty()) {
      take(piece);
    } else {
      whole.append(piece);
      take(whole);
      whole.clear();
    }
  };
  if (!restart) {
    ForEachPiece(join);
    return;
  }
  ForEachPiece(join, [&] {
    whole.clear();
    restart();
  });
}

bool BodyFile::Pass(const PieceTaker& take, bool learning, bool runs) {
  Rewind();
  line_.clear();
  auto append = [this](std::string_view bytes) {
    if (utf8_) {
      line_.append(bytes);
    } else {
      AppendLatin1AsUtf8(bytes, line_);
    }
  };
  Utf8Check check;
  bool first_block = true;
  // The previous block ended with a CR: an LF at the start of this one completes its line end.
  bool after_cr = false;
  // Pieces of the current line have been handed on already.
  bool in_line = false;
  for (;;) {
    const std::size_t got = Fill(block_);
    std::string_view text(block_.data(), got);
    if (learning) {
      check.Add(text);
      if (!check.valid_so_far() || (got < block_.size() && !check.valid_at_end())) {
        utf8_ = false;
        encoding_known_ = true;
        return false;
      }
    }
    if (first_block && utf8_ && text.starts_with(kByteOrderMark)) {
      text.remove_prefix(kByteOrderMark.size());
    }
    first_block = false;
    std::size_t start = after_cr && text.starts_with('\n') ? 1 : 0;
    after_cr = false;
    LineEndFinder ends(text);
    while (start < text.size()) {
      std::size_t end;
      if (runs && line_.empty() && !in_line && (end = LastLineEnd(text, start)) != kNone) {
        // All the lines up to the last end in the block at once, without that end.
        const std::size_t run_end =
            text[end] == '\n' && end > start && text[end - 1] == '\r' ? end - 1 : end;
        const std::string_view run = text.substr(start, run_end - start);
        if (utf8_) {
          take(run, true);
        } else {
          append(run);
          take(line_, true);
          line_.clear();
        }
      } else {
        end = ends.From(start);
        if (end == std::string_view::npos) {
          append(text.substr(start));
          if (line_.size() >= kLinePiece) {
            take(line_, false);
            line_.clear();
            in_line = true;
          }
          break;
        }
        const std::string_view piece = text.substr(start, end - start);
        // line_ holds something only for a line that began in an earlier block.
        if (line_.empty() && utf8_) {
          take(piece, true);
        } else {
          append(piece);
          take(line_, true);
          line_.clear();
        }
      }
      in_line = false;
      start = end + 1;
      if (text[end] == '\r') {
        if (start == text.size()) {
          after_cr = true;
        } else if (text[start] == '\n') {
          ++start;
        }
      }
    }
    if (got < block_.size()) break;
  }
  if (!line_.empty() || in_line) take(line_, true);
  if (spool_.fd < 0) file_.CheckUnchanged();
  encoding_known_ = true;
  return true;
}

}  // namespace tovrel::message
