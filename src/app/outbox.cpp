#include "app/outbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

#include "app/app_errors.h"
#include "app/message_file.h"
#include "app/outbox_envelope.h"
#include "app/send_command.h"
#include "app/sent_copy.h"
#include "app/spool_files.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/message_error.h"
#include "message/string_helpers.h"
#include "net/net_errors.h"

namespace tovrel::app {

namespace {

constexpr std::string_view kMessageSuffix = ".msg";
constexpr std::string_view kEnvelopeSuffix = ".env";
// An envelope no run may send from any more, left for the user to read.
constexpr std::string_view kSetAsideSuffix = ".partly";

using Entry = OutboxEntry;

// Notes the attempt when the send that failed went out whole and heard nothing back.
void NoteUnconfirmed(Entry& entry, const net::SmtpClient& smtp, const std::string& reason) {
  if (!smtp.delivery().end_unanswered) return;
  entry.unconfirmed.push_back(std::to_string(entry.attempts) + " " + VisibleText(OneLine(reason)));
}

// Only a refusal of the message itself is final. What fails for the account, the network, TLS or
// the token (a wrong password, no server set, a provider out of reach) would fail every entry
// alike, and passes once it is mended: those entries wait for the next run.
bool RefusedForGood(const std::exception& error) {
  // Those who have it are left out of the entry; the rest were refused as the failure says.
  if (const auto* partly = dynamic_cast<const PartlySentError*>(&error)) {
    return !partly->temporary();
  }
  if (const auto* reply = dynamic_cast<const net::ProtocolReplyError*>(&error)) {
    const int code = reply->reply_code();
    return code >= 500 && code != 530 && code != 534 && code != 535;  // not the login's
  }
  return dynamic_cast<const net::ServerCapabilityError*>(&error) != nullptr ||
         dynamic_cast<const message::MessageError*>(&error) != nullptr;
}

// The names of the finished entries, oldest first.
std::vector<std::string> EntryNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) return names;
  while (const dirent* item = ::readdir(listing)) {
    const std::string_view name = item->d_name;
    if (name.starts_with('.') || !name.ends_with(kEnvelopeSuffix)) continue;
    names.emplace_back(name.substr(0, name.size() - kEnvelopeSuffix.size()));
  }
  ::closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

// The entry's envelope file held under an exclusive lock for as long as this lives, so that two
// runs never send one message twice; held() is false when another run has it, or had it and is
// done with it (the file this opened is no longer the one under its name).
class EntryLock {
 public:
  explicit EntryLock(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)) {
    // A link is no run's entry: reading it refuses it, and says so.
    if (fd_ < 0 && errno == ELOOP) held_ = true;
    if (fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) != 0) return;
    struct stat opened {};
    struct stat named {};
    held_ = ::fstat(fd_, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
            opened.st_ino == named.st_ino && opened.st_dev == named.st_dev;
  }
  ~EntryLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  EntryLock(const EntryLock&) = delete;
  EntryLock& operator=(const EntryLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

// Copies a stored text to `fd` with LF line ends, a block at a time: a message may be as large
// as any attachment.
void CopyWithUnixLineEnds(const std::string& path, int fd) {
  const auto put = [&](std::string_view rest) {
    while (!rest.empty()) {
      const ssize_t written = ::write(fd, rest.data(), rest.size());
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) throw FileError(message::FormatText(texts::kCannotWriteCopy, {path}));
      rest.remove_prefix(static_cast<size_t>(written));
    }
  };
  bool after_cr = false;  // a CR ended the block before: its LF may begin this one
  std::string out;
  ReadFileInBlocks(path, [&](std::string_view block) {
    out.clear();
    for (const char c : block) {
      if (after_cr && c != '\n') out.push_back('\r');
      after_cr = c == '\r';
      if (!after_cr) out.push_back(c);
    }
    put(out);
  });
  if (after_cr) put("\r");
}

void Report(std::ostream& boxes, const std::string& text) {
  boxes << VisibleText(OneLine(text)) << '\n' << std::flush;
}

// The entry's envelope, once both its files are found to be the program's own: a link planted in
// the outbox would send whatever it points to.
Entry ReadEntry(const std::string& envelope_path, const std::string& text_path) {
  CheckOwnFile(text_path);
  return ParseEnvelope(ReadWholeFile(envelope_path));
}

// Moves a refused entry to failed/ with `envelope_text`: the new envelope waits, synced, under a
// temporary name until the text has moved, and the entry leaves the outbox last. When the text
// cannot move, both files stay where they were.
void MoveToFailed(const std::string& folder, const std::string& name,
                  const std::string& envelope_text, const std::string& reason) {
  const std::string failed = folder + "/failed";
  const std::string text_from = folder + "/" + name + std::string(kMessageSuffix);
  const std::string text_to = failed + "/" + name + std::string(kMessageSuffix);
  try {
    MakeFolder(failed);
    SpoolFile envelope(failed);
    envelope.Write(envelope_text);
    envelope.Sync();
    if (::rename(text_from.c_str(), text_to.c_str()) != 0) throw FileError(std::strerror(errno));
    try {
      envelope.Commit(failed + "/" + name + std::string(kEnvelopeSuffix));
    } catch (const std::exception&) {
      ::rename(text_to.c_str(), text_from.c_str());
      throw;
    }
  } catch (const std::exception& error) {
    throw FileError(message::FormatText(texts::kOutboxNotMoved, {name, error.what(), reason}));
  }
  ::unlink((folder + "/" + name + std::string(kEnvelopeSuffix)).c_str());
}

}  // namespace

std::string KeepInOutbox(message::Message& message, const net::SmtpClient& smtp,
                         const std::string& reason) {
  const std::string folder = DataFolder("outbox");
  const std::string name = TimeOrderedName();
  message.set_use_now_for_date(false);
  Entry entry{net::SmtpClient::EnvelopeOf(message), {}, 1, reason, {}};
  // Only those the send did not serve wait: the others have the message.
  if (!smtp.delivery().finished.empty()) entry.envelope.recipients = smtp.delivery().Unserved();
  for (size_t i = 0; i < message.bcc_list().count(); ++i) {
    entry.blind_copies.push_back(message.bcc_list()[i].address());
  }
  NoteUnconfirmed(entry, smtp, reason);
  // Both files are written and on the disk before either takes its name, so a full disk leaves
  // nothing behind; then the text, and the envelope last: only with it is the entry there at all.
  SpoolFile envelope(folder);
  envelope.Write(EnvelopeText(entry));
  envelope.Sync();
  SpoolFile text(folder);
  WriteMessageFile(message, smtp, text.fd(), LineEnds::leWire);
  text.Sync();
  const std::string text_path = folder + "/" + name + std::string(kMessageSuffix);
  text.Commit(text_path);
  try {
    envelope.Commit(folder + "/" + name + std::string(kEnvelopeSuffix));
  } catch (const std::exception&) {
    ::unlink(text_path.c_str());
    throw;
  }
  return name;
}

int SendOutbox(const Account& account, net::SmtpClient& smtp, std::ostream& boxes,
               const RefreshTokenKeeper& keep_refresh_token) {
  const std::string folder = DataFolder("outbox");
  // A provider that rotates refresh tokens refuses the old one for the next message.
  Account current = account;
  const RefreshTokenKeeper keep = [&](const std::string& token) {
    current.refresh_token = token;
    if (keep_refresh_token) keep_refresh_token(token);
  };
  int remaining = 0;
  bool refused = false;
  // One session for every entry.
  StoredDelivery delivery(current, smtp, keep);
  for (const std::string& name : EntryNames(folder)) {
    const std::string base = folder + "/" + name;
    const std::string envelope_path = base + std::string(kEnvelopeSuffix);
    const std::string text_path = base + std::string(kMessageSuffix);
    const EntryLock lock(envelope_path);
    // Another run has it now, or had it: that run sends it, or tells why not.
    if (!lock.held()) continue;
    Entry entry;
    try {
      entry = ReadEntry(envelope_path, text_path);
    } catch (const std::exception& error) {
      // Left as it is: an envelope written anew from nothing would lose the recipients.
      ++remaining;
      Report(boxes, error.what());
      continue;
    }
    try {
      delivery.Deliver(entry.envelope, text_path);
    } catch (const std::exception& error) {
      entry.reply = error.what();
      ++entry.attempts;
      NoteUnconfirmed(entry, smtp, error.what());
      // Those who have it now are no longer waited for.
      const auto* partly = dynamic_cast<const PartlySentError*>(&error);
      if (partly != nullptr) entry.envelope.recipients = partly->unserved();
      try {
        if (!RefusedForGood(error)) {
          WriteFileAtomically(envelope_path, EnvelopeText(entry));
          ++remaining;
          Report(boxes, message::FormatText(texts::kOutboxKept,
                                            {name, std::to_string(entry.attempts), error.what()}));
        } else {
          refused = true;
          MoveToFailed(folder, name, EnvelopeText(entry), error.what());
          Report(boxes, message::FormatText(texts::kOutboxFailed, {name, error.what()}));
        }
      } catch (const std::exception& keeping) {
        Report(boxes, keeping.what());
        // The envelope on the disk still names those who have the message now; the next run
        // would send them a second copy. A rename needs no room on the disk.
        const std::string aside = envelope_path + std::string(kSetAsideSuffix);
        if (partly != nullptr && ::rename(envelope_path.c_str(), aside.c_str()) == 0) {
          refused = true;
          Report(boxes, message::FormatText(texts::kOutboxSetAside, {name, aside}));
        } else {
          ++remaining;
        }
      }
      continue;
    }
    // The envelope goes first: a text without one is no entry, an envelope without text would be.
    ::unlink(envelope_path.c_str());
    if (account.keep_sent_copy) {
      try {
        StoreSentCopy(entry.blind_copies, [&](int fd) { CopyWithUnixLineEnds(text_path, fd); });
      } catch (const std::exception& error) {
        Report(boxes, message::FormatText(texts::kSentCopyFailed, {error.what()}));
      }
    }
    ::unlink(text_path.c_str());
  }
  if (remaining > 0) return kExitTryLater;
  return refused ? kExitNotSent : kExitSent;
}

std::size_t KeptMessageCount() {
  try {
    return EntryNames(DataFolder("outbox")).size();
  } catch (const std::exception&) {
    return 0;  // a send from the outbox says why
  }
}

}  // namespace tovrel::app
