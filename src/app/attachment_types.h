#pragma once

// The MIME types attachments go out with, from the desktop's MIME database (shared-mime-info):
// readers pick a viewer by them, and filters judge by them. The name decides, as it does for the
// recipient's program; the first bytes are read only when the name says nothing and has no
// extension, or when several types claim the name alike, and only from a regular file (a pipe
// would lose them). A name with an extension the database does not know goes out as
// application/octet-stream: the sender named it so. An empty file or a device says nothing of
// what the reader should make of it and goes out the same way. A text type names the charset its
// bytes are in, when they are UTF-8 or ASCII.

#include <QList>
#include <QMimeDatabase>
#include <QMimeType>
#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tovrel::app {

// One for the attachments of one message. The database's name match costs as much as a small
// file's encoding; a message of many files with the same extension asks it once for all of them
// where that is sure to give each the same answer.
class AttachmentTypes {
 public:
  // The type of the file at `path`, with its parameters; `regular` says whether its bytes may
  // be read.
  std::string TypeOf(const std::string& path, bool regular);

 private:
  QList<QMimeType> TypesByName(std::string_view base_name);

  QMimeDatabase database_;
  int lookups_ = 0;
  // Whether the database's patterns are known in full, and those of them that may reach beyond a
  // single extension, lower-cased, by their last character; loaded with the second lookup.
  bool extensions_decide_ = false;
  std::array<std::vector<std::string>, 128> wider_by_end_;
  std::map<std::string, QList<QMimeType>, std::less<>> by_extension_;
  std::string lower_name_;  // kept for its room
};

}  // namespace tovrel::app
