#include "app/attachment_types.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>
#include <algorithm>
#include <fstream>
#include <optional>

#include "message/utf8_text.h"

namespace tovrel::app {

namespace {

constexpr char kUnknownType[] = "application/octet-stream";
// A text file is judged by this much of it at most: the file is read again as it is sent, and
// text that is ASCII this far goes unlabelled, as the default of text/* is ASCII.
constexpr std::size_t kCharsetLookLimit = 1 << 20;
constexpr std::size_t kCharsetLookBlock = 64 * 1024;
// Pattern marks beside the lower-case ASCII letters: any run of characters, any one character.
constexpr char kAnyRun = '\x01';
constexpr char kAnyOne = '\x02';

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The extension of a last path component: what follows its last dot, when that dot is not the
// first character (".profile" is a hidden name) and something follows it.
std::string_view ExtensionOf(std::string_view base_name) {
  const std::size_t dot = base_name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return base_name.substr(dot + 1);
}

// "*." and one extension: a name matches it by its own extension alone.
bool IsOneExtension(std::string_view pattern) {
  return pattern.size() > 2 && pattern.starts_with("*.") &&
         pattern.find_first_of("*?[\\.", 2) == std::string_view::npos;
}

// A glob reduced to what a test that errs only towards a match needs: lower-case ASCII letters,
// a bracket expression as any one character, and anything this cannot judge (a backslash, a
// byte beyond ASCII, an unclosed bracket) as any run.
std::string LooseForm(std::string_view pattern) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '[') {
      const std::size_t first =
          i + 1 < pattern.size() && (pattern[i + 1] == '!' || pattern[i + 1] == '^') ? i + 2
                                                                                     : i + 1;
      const std::size_t close = pattern.find(']', first + 1);
      if (close != std::string_view::npos) {
        out.push_back(kAnyOne);
        i = close;
        continue;
      }
    }
    if (c == '?') {
      out.push_back(kAnyOne);
    } else if (c == '*' || c == '[' || c == '\\' || static_cast<unsigned char>(c) >= 0x80) {
      out.push_back(kAnyRun);
    } else {
      out.push_back(LowerAscii(c));
    }
  }
  return out;
}

// Whether a lower-case ASCII name may match a pattern in its loose form.
bool MayMatch(std::string_view pattern, std::string_view name) {
  // The end of the name must meet whatever follows the pattern's last run: most patterns fail
  // there at once.
  while (!pattern.empty() && pattern.back() != kAnyRun) {
    if (name.empty() || (pattern.back() != kAnyOne && pattern.back() != name.back())) return false;
    pattern.remove_suffix(1);
    name.remove_suffix(1);
  }
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t after_run = std::string_view::npos;
  std::size_t run_end = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == kAnyRun) {
      after_run = ++p;
      run_end = n;
    } else if (p < pattern.size() && (pattern[p] == kAnyOne || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (after_run != std::string_view::npos) {
      p = after_run;
      n = ++run_end;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == kAnyRun) ++p;
  return p == pattern.size();
}

// The patterns of every database folder the MIME database reads that may match more than names
// of one extension, from the pattern list the database's compiled form was made with. Nothing
// when that list is missing or holds what is not understood here, and when the database would
// fall back to a copy of its own.
std::optional<std::vector<std::string>> WiderPatterns() {
  const QStringList folders = QStandardPaths::locateAll(
      QStandardPaths::GenericDataLocation, QStringLiteral("mime"), QStandardPaths::LocateDirectory);
  bool has_base = false;
  std::vector<std::string> wider;
  for (const QString& folder : folders) {
    has_base =
        has_base || QFileInfo::exists(folder + QStringLiteral("/packages/freedesktop.org.xml"));
    if (!QFileInfo::exists(folder + QStringLiteral("/mime.cache"))) return std::nullopt;
    std::ifstream in(QFile::encodeName(folder + QStringLiteral("/globs2")).toStdString());
    if (!in) return std::nullopt;
    // weight:type:pattern, and ":cs" for a pattern that heeds letter case
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line.front() == '#') continue;
      const std::size_t first = line.find(':');
      const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
      if (second == std::string::npos) return std::nullopt;
      const std::string_view rest = std::string_view(line).substr(second + 1);
      const std::size_t flags = rest.find(':');
      if (flags != std::string_view::npos && rest.substr(flags) != ":cs") return std::nullopt;
      const std::string_view pattern = rest.substr(0, flags);
      // An empty pattern matches no name with an extension.
      if (!pattern.empty() && !IsOneExtension(pattern)) wider.push_back(LooseForm(pattern));
    }
  }
  if (!has_base) return std::nullopt;
  return wider;
}

// The charset parameter a text file's bytes call for: "utf-8" for UTF-8 beyond ASCII, "us-ascii"
// for ASCII, nothing for anything else or when the file cannot be read. The reading ends at the
// first byte that is not UTF-8.
std::string TextCharsetOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string block(kCharsetLookBlock, '\0');
  std::size_t carried = 0;  // the start of a character cut by the end of the last block
  std::size_t seen = 0;
  bool beyond_ascii = false;
  bool whole = false;
  while (!whole && seen < kCharsetLookLimit) {
    in.read(block.data() + carried, static_cast<std::streamsize>(block.size() - carried));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (in.bad()) return {};
    whole = got == 0 || in.eof();
    const std::string_view bytes(block.data(), carried + got);
    seen += got;
    std::size_t at = 0;
    while (at < bytes.size()) {
      if (static_cast<unsigned char>(bytes[at]) < 0x80) {
        ++at;
        continue;
      }
      const std::size_t length = message::DecodeUtf8(bytes.substr(at)).length;
      if (length == 0) {
        if (!whole && bytes.size() - at < 4) break;
        return {};
      }
      beyond_ascii = true;
      at += length;
    }
    carried = bytes.size() - at;
    std::copy(block.begin() + static_cast<std::ptrdiff_t>(at),
              block.begin() + static_cast<std::ptrdiff_t>(bytes.size()), block.begin());
  }
  if (beyond_ascii) return "utf-8";
  return whole ? "us-ascii" : "";
}

}  // namespace

QList<QMimeType> AttachmentTypes::TypesByName(std::string_view base_name) {
  auto ask = [&] {
    return database_.mimeTypesForFileName(
        QFile::decodeName(QByteArray(base_name.data(), static_cast<qsizetype>(base_name.size()))));
  };
  if (++lookups_ == 2) {
    const std::optional<std::vector<std::string>> wider = WiderPatterns();
    extensions_decide_ = wider.has_value();
    // Filed by their last character, which the name's last one must meet.
    for (const std::string& pattern : wider.value_or(std::vector<std::string>())) {
      wider_by_end_[static_cast<unsigned char>(pattern.back()) & 0x7f].push_back(pattern);
    }
  }
  // A name of one extension that no wider pattern can match gets what the patterns of that
  // extension give, which depends on the extension alone, letter case included.
  const std::string_view extension = ExtensionOf(base_name);
  if (!extensions_decide_ || extension.empty() || !IsAscii(base_name)) return ask();
  lower_name_.assign(base_name);
  std::transform(lower_name_.begin(), lower_name_.end(), lower_name_.begin(), LowerAscii);
  for (const char end : {kAnyRun, kAnyOne, lower_name_.back()}) {
    for (const std::string& pattern : wider_by_end_[static_cast<unsigned char>(end)]) {
      if (MayMatch(pattern, lower_name_)) return ask();
    }
  }
  auto known = by_extension_.find(extension);
  if (known == by_extension_.end()) known = by_extension_.emplace(extension, ask()).first;
  return known->second;
}

std::string AttachmentTypes::TypeOf(const std::string& path, bool regular) {
  const std::size_t slash = path.rfind('/');
  const std::string_view base_name = slash == std::string::npos
                                         ? std::string_view(path)
                                         : std::string_view(path).substr(slash + 1);
  const QList<QMimeType> by_name = TypesByName(base_name);
  QMimeType type;
  if (by_name.size() == 1 || (!by_name.empty() && !regular)) {
    type = by_name.front();
  } else if (regular && (!by_name.empty() || ExtensionOf(base_name).empty())) {
    // Several types claim the name alike, or none does and it has no extension: the content
    // settles it.
    type = database_.mimeTypeForFile(
        QFile::decodeName(path.c_str()),
        by_name.empty() ? QMimeDatabase::MatchContent : QMimeDatabase::MatchDefault);
  }
  const QString name = type.isValid() && !type.isDefault() ? type.name() : QString();
  if (name.isEmpty() || name.startsWith(QLatin1String("inode/")) ||
      name == QLatin1String("application/x-zerosize")) {
    return kUnknownType;
  }
  std::string result = name.toStdString();
  // Without a charset a reader guesses, and shows text beyond ASCII garbled. A pipe's bytes
  // cannot be read twice and are left unjudged.
  if (regular && result.starts_with("text/")) {
    if (const std::string charset = TextCharsetOf(path); !charset.empty()) {
      result.append("; charset=").append(charset);
    }
  }
  return result;
}

}  // namespace tovrel::app
