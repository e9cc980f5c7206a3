#pragma once

// Drafts: what a compose window holds, saved as the user types to
// $XDG_DATA_HOME/tovrelmail/drafts/NAME.draft (one file per window, written whole), so that a
// crash, a kill or a logout loses nothing. The window holds NAME.lock locked for as long as it
// lives; a draft whose lock nobody holds was left behind by a window that did not end cleanly.

#include <string>
#include <utility>
#include <vector>

#include "app/compose_fields.h"

namespace tovrel::app {

struct Draft {
  ComposeFields fields;  // from, to, cc, bcc, subject, body and attachments
  bool word_wrap = true;
};

// The draft text: a first line naming the format, one "key value" line per field (line breaks
// and backslashes escaped), "end". ParseDraft raises FileError for any other text, and for one
// holding more than 16 MiB besides its attachment list (or a list beyond 1 MiB).
std::string DraftText(const Draft& draft);
Draft ParseDraft(const std::string& text);

class DraftStore {
 public:
  DraftStore() = default;
  // A window that ends cleanly leaves no draft behind.
  ~DraftStore();
  DraftStore(const DraftStore&) = delete;
  DraftStore& operator=(const DraftStore&) = delete;

  // Raises FileError when the draft cannot be written.
  void Save(const Draft& draft);
  void Remove();
  // Takes over the left-behind draft at `path`, restored into this window: it is removed once a
  // Save has kept its content under this window's name (or with Remove), and not before.
  void Adopt(const std::string& path);

  // The drafts nobody holds, oldest first, as (path, draft). A file that is no draft, or too
  // large a one, is renamed NAME.draft.damaged and left for the user, with a line in `set_aside`.
  static std::vector<std::pair<std::string, Draft>> LeftBehind(std::vector<std::string>& set_aside);
  // Removes a draft LeftBehind gave once it is restored or discarded.
  static void Drop(const std::string& path);

 private:
  void DropAdopted();

  std::string path_;  // empty until the first save
  int lock_fd_ = -1;
  std::string adopted_;  // empty when none
  int adopted_lock_fd_ = -1;
};

}  // namespace tovrel::app
