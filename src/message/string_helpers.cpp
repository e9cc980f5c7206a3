#include "message/string_helpers.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "message/locale_info.h"
#include "message/message_error.h"

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

// Static initialisation runs on the thread that starts the program.
const std::thread::id kMainThread = std::this_thread::get_id();

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

Utf8Char DecodeUtf8(std::string_view text) {
  if (text.empty()) return {};
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {1, lead};
  std::size_t length = 0;
  char32_t code = 0;
  char32_t lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, lowest = 0x10000;
  } else {
    return {};
  }
  if (text.size() < length) return {};
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {};
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
  return {length, code};
}

bool IsValidUtf8(std::string_view text) {
  // Text runs to megabytes (a body file) and is mostly ASCII: that is passed a word at a time.
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  std::size_t at = 0;
  while (at < text.size()) {
    if (text.size() - at >= sizeof(std::uint64_t)) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + at, sizeof word);
      if ((word & kHighBits) == 0) {
        at += sizeof word;
        continue;
      }
    }
    const std::size_t length = DecodeUtf8(text.substr(at)).length;
    if (length == 0) return false;
    at += length;
  }
  return true;
}

LineEndFinder::LineEndFinder(std::string_view text)
    : text_(text), next_cr_(Find('\r', 0)), next_lf_(Find('\n', 0)) {}

std::size_t LineEndFinder::From(std::size_t from) {
  // A remembered position still ahead stays the next one of its kind.
  if (next_cr_ < from) next_cr_ = Find('\r', from);
  if (next_lf_ < from) next_lf_ = Find('\n', from);
  return std::min(next_cr_, next_lf_);
}

std::size_t LineEndFinder::Find(char c, std::size_t from) const {
  if (from >= text_.size()) return std::string_view::npos;
  const void* found = std::memchr(text_.data() + from, c, text_.size() - from);
  return found == nullptr
             ? std::string_view::npos
             : static_cast<std::size_t>(static_cast<const char*>(found) - text_.data());
}

void AppendLatin1AsUtf8(std::string_view text, std::string& utf8) {
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
}

const std::string& TempDirectory() {
  static const std::string directory = [] {
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env != nullptr && *env != '\0') ? env : "/tmp";
    if (dir.back() != '/') dir.push_back('/');
    return dir;
  }();
  return directory;
}

namespace {

SpoolFile MakeSpoolFile(const std::string& directory) {
  std::string path = directory;
  if (path.empty() || path.back() != '/') path.push_back('/');
  path += "TovXXXXXX.tmp";
  std::vector<char> buffer(path.begin(), path.end());
  buffer.push_back('\0');
  const int fd = mkostemps(buffer.data(), 4, O_CLOEXEC);  // mode 0600
  if (fd < 0) throw FileError(FormatText(texts::kCannotCreateFile, {path}));
  return SpoolFile{fd, std::string(buffer.data())};
}

}  // namespace

std::string NewSpoolFileName() { return NewSpoolFileName(TempDirectory()); }

SpoolFile NewSpoolFile() { return NewSpoolFile(TempDirectory()); }

SpoolFile NewSpoolFile(const std::string& directory) {
  SpoolFile spool = MakeSpoolFile(directory);
  unlink(spool.name.c_str());
  return spool;
}

std::string NewSpoolFileName(const std::string& directory) {
  SpoolFile spool = MakeSpoolFile(directory);
  close(spool.descriptor);
  return spool.name;
}

bool OnGuiThread() { return std::this_thread::get_id() == kMainThread; }

namespace {

// Full-width JIS X 0208 codes of the half-width katakana 0xA1..0xDF.
constexpr unsigned short kKatakana[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523, 0x2525, 0x2527, 0x2529,
    0x2563, 0x2565, 0x2567, 0x2543, 0x213C, 0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B,
    0x252D, 0x252F, 0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F, 0x2541,
    0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D, 0x254E, 0x254F, 0x2552, 0x2555,
    0x2558, 0x255B, 0x255E, 0x255F, 0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569,
    0x256A, 0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C};

constexpr unsigned char kVoicedMark = 222;
constexpr unsigned char kSemiVoicedMark = 223;

// The voiced form of a half-width katakana, 0 when it has none.
unsigned short VoicedForm(unsigned char b) {
  if (b == 179) return 0x2574;  // U -> VU
  if ((b >= 182 && b <= 196) || (b >= 202 && b <= 206)) return kKatakana[b - 0xA1] + 1;
  return 0;
}

class JisWriter {
 public:
  explicit JisWriter(std::size_t reserve) { out_.reserve(reserve); }
  void Single(char c) {
    if (double_) {
      out_.append("\x1b(B");
      double_ = false;
    }
    out_.push_back(c);
  }
  void Double(unsigned high, unsigned low) {
    if (!double_) {
      out_.append("\x1b$B");
      double_ = true;
    }
    out_.push_back(static_cast<char>(high));
    out_.push_back(static_cast<char>(low));
  }
  std::string Finish() {
    if (double_) out_.append("\x1b(B");
    return std::move(out_);
  }

 private:
  std::string out_;
  bool double_ = false;
};

}  // namespace

std::string ShiftJisToJis(std::string_view text) {
  JisWriter out(text.size() + text.size() / 2);
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 128) {
      out.Single(static_cast<char>(b));
      i += 1;
    } else if (b == 128 || b == 160 || b >= 253) {
      i += 1;
    } else if (b >= 240) {  // user-defined area: dropped with its trail byte
      i += 2;
    } else if (b >= 161 && b <= 223) {
      unsigned short code = kKatakana[b - 0xA1];
      i += 1;
      if (i < n) {
        const unsigned char next = static_cast<unsigned char>(text[i]);
        const unsigned short voiced = VoicedForm(b);
        if (next == kVoicedMark && voiced != 0) {
          code = voiced;
          i += 1;
        } else if (next == kSemiVoicedMark && b >= 202 && b <= 206) {
          code = static_cast<unsigned short>(voiced + 1);
          i += 1;
        }
      }
      out.Double(code >> 8, code & 0xFF);
    } else {  // lead byte 129..159 or 224..239
      if (i + 1 < n) {
        const unsigned t = static_cast<unsigned char>(text[i + 1]);
        const unsigned row = b <= 159 ? 0x21 + 2 * (b - 129) : 0x5F + 2 * (b - 224);
        unsigned high = 0;
        unsigned low = 0;
        if (t >= 64 && t <= 126) {
          low = t - 31;
        } else if (t >= 128 && t <= 158) {
          low = t - 32;
        } else if (t >= 159 && t <= 252) {
          high = 1;
          low = t - 126;
        }
        if (low != 0) out.Double(row + high, low);
      }
      i += 2;
    }
  }
  return out.Finish();
}

}  // namespace tovrel::message
