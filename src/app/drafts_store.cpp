#include "app/drafts_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "app/app_errors.h"
#include "app/spool_files.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

constexpr std::string_view kFormatLine = "tovrelmail draft 1";
constexpr std::string_view kDraftSuffix = ".draft";
// A draft is read up to what a window holding a long message writes: its text, and its list of
// attachments beside it. A larger file (200 MB of it would cost the start three times that) is set
// aside unread.
constexpr std::size_t kDraftTextLimit = std::size_t{16} << 20;
constexpr std::size_t kAttachmentListLimit = std::size_t{1} << 20;

std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

[[noreturn]] void Damaged() { throw FileError(texts::kDraftDamaged); }

std::string Unescaped(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    if (++i == text.size()) Damaged();
    switch (text[i]) {
      case '\\':
        out.push_back('\\');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      default:
        Damaged();
    }
  }
  return out;
}

std::string LockPath(const std::string& draft_path) {
  return draft_path.substr(0, draft_path.size() - kDraftSuffix.size()) + ".lock";
}

// A descriptor of the lock file, locked, or -1 when another window holds it, or when it is no
// lock file of the user's own (a link would have the lock made or taken anywhere).
int TakeLock(const std::string& lock_path) {
  const int fd =
      ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return -1;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
      ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

[[noreturn]] void TooLarge() { throw FileError(texts::kDraftTooLarge); }

Draft ReadDraft(const std::string& path) {
  std::string text;
  ReadFileInBlocks(path, [&text](std::string_view block) {
    if (text.size() + block.size() > kDraftTextLimit + kAttachmentListLimit) TooLarge();
    text.append(block);
  });
  return ParseDraft(text);
}

}  // namespace

std::string DraftText(const Draft& draft) {
  const ComposeFields& f = draft.fields;
  std::string text(kFormatLine);
  text += "\n";
  const auto line = [&text](std::string_view key, std::string_view value) {
    text.append(key).append(" ").append(Escaped(value)).append("\n");
  };
  line("from", f.from);
  line("to", f.to);
  line("cc", f.cc);
  line("bcc", f.bcc);
  line("subject", f.subject);
  std::string body;
  for (size_t i = 0; i < f.body.size(); ++i) body.append(i == 0 ? "" : "\n").append(f.body[i]);
  line("body", body);
  for (const std::string& path : f.attachments) line("attachment", path);
  line("wrap", draft.word_wrap ? "1" : "0");
  return text + "end\n";
}

Draft ParseDraft(const std::string& text) {
  Draft draft;
  ComposeFields& f = draft.fields;
  size_t start = 0;
  bool first = true;
  bool ended = false;
  std::size_t list_size = 0;  // the attachment lines'
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos || ended) Damaged();
    const std::string_view line = std::string_view(text).substr(start, end - start);
    start = end + 1;
    if (first) {
      if (line != kFormatLine) Damaged();
      first = false;
      continue;
    }
    if (line == "end") {
      ended = true;
      continue;
    }
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) Damaged();
    const std::string_view key = line.substr(0, blank);
    std::string value = Unescaped(line.substr(blank + 1));
    if (key == "from") {
      f.from = std::move(value);
    } else if (key == "to") {
      f.to = std::move(value);
    } else if (key == "cc") {
      f.cc = std::move(value);
    } else if (key == "bcc") {
      f.bcc = std::move(value);
    } else if (key == "subject") {
      f.subject = std::move(value);
    } else if (key == "body") {
      f.body.clear();
      size_t from = 0;
      for (size_t to; (to = value.find('\n', from)) != std::string::npos; from = to + 1) {
        f.body.push_back(value.substr(from, to - from));
      }
      f.body.push_back(value.substr(from));
    } else if (key == "attachment") {
      list_size += line.size() + 1;
      f.attachments.push_back(std::move(value));
    } else if (key == "wrap") {
      draft.word_wrap = value != "0";
    } else {
      Damaged();
    }
  }
  if (!ended) Damaged();
  if (list_size > kAttachmentListLimit || text.size() - list_size > kDraftTextLimit) TooLarge();
  return draft;
}

DraftStore::~DraftStore() { Remove(); }

void DraftStore::Save(const Draft& draft) {
  if (path_.empty()) {
    const std::string folder = DataFolder("drafts");
    const std::string path = folder + "/" + TimeOrderedName() + std::string(kDraftSuffix);
    lock_fd_ = TakeLock(LockPath(path));
    if (lock_fd_ < 0) {
      throw FileError(message::FormatText(texts::kCannotOpenFile, {LockPath(path), "locked"}));
    }
    path_ = path;
  }
  WriteFileAtomically(path_, DraftText(draft));
  DropAdopted();
}

void DraftStore::Adopt(const std::string& path) {
  DropAdopted();
  adopted_ = path;
  adopted_lock_fd_ = TakeLock(LockPath(path));
}

void DraftStore::DropAdopted() {
  if (adopted_.empty()) return;
  Drop(adopted_);
  if (adopted_lock_fd_ >= 0) ::close(adopted_lock_fd_);
  adopted_lock_fd_ = -1;
  adopted_.clear();
}

void DraftStore::Remove() {
  DropAdopted();
  if (path_.empty()) return;
  ::unlink(path_.c_str());
  ::unlink(LockPath(path_).c_str());
  ::close(lock_fd_);
  lock_fd_ = -1;
  path_.clear();
}

std::vector<std::pair<std::string, Draft>> DraftStore::LeftBehind(
    std::vector<std::string>& set_aside) {
  std::vector<std::pair<std::string, Draft>> drafts;
  const std::string folder = DataFolder("drafts");
  std::vector<std::string> names;
  if (DIR* listing = ::opendir(folder.c_str())) {
    while (const dirent* item = ::readdir(listing)) {
      const std::string_view name = item->d_name;
      if (!name.starts_with('.') && name.ends_with(kDraftSuffix)) names.emplace_back(name);
    }
    ::closedir(listing);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    const int lock = TakeLock(LockPath(path));
    if (lock < 0) continue;  // its window is still open
    ::close(lock);
    try {
      drafts.emplace_back(path, ReadDraft(path));
    } catch (const std::exception& error) {
      // Kept for the user to look at; never deleted.
      const std::string damaged = path + ".damaged";
      ::rename(path.c_str(), damaged.c_str());
      ::unlink(LockPath(path).c_str());
      set_aside.push_back(message::FormatText(texts::kDraftSetAside, {error.what(), damaged}));
    }
  }
  return drafts;
}

void DraftStore::Drop(const std::string& path) {
  ::unlink(path.c_str());
  ::unlink(LockPath(path).c_str());
}

}  // namespace tovrel::app
