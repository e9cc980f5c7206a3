#include "app/sent_copy.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "app/app_errors.h"
#include "app/message_file.h"
#include "app/spool_files.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

std::string MaildirName() {
  const auto random = static_cast<unsigned long long>(RandomBits());
  char host[256] = "localhost";
  ::gethostname(host, sizeof host - 1);
  // The host part may hold neither "/" nor ":", which Maildir writes in octal.
  std::string safe_host;
  for (const char* c = host; *c != '\0'; ++c) {
    if (*c == '/') {
      safe_host += "\\057";
    } else if (*c == ':') {
      safe_host += "\\072";
    } else {
      safe_host.push_back(*c);
    }
  }
  char unique[96];
  std::snprintf(unique, sizeof unique, "%lld.%d_%016llx.",
                static_cast<long long>(std::time(nullptr)), static_cast<int>(::getpid()), random);
  return unique + safe_host + ":2,S";
}

void StoreSentCopy(const std::vector<std::string>& blind_copies,
                   const std::function<void(int fd)>& write_text) {
  const std::string folder = DataFolder("Sent");
  for (const char* sub : {"/tmp", "/new", "/cur"}) MakeFolder(folder + sub);
  SpoolFile file(folder + "/tmp");
  if (!blind_copies.empty()) {
    std::string field = "Bcc: ";
    for (size_t i = 0; i < blind_copies.size(); ++i) {
      field.append(i == 0 ? "" : ",\n ").append(blind_copies[i]);
    }
    file.Write(field + "\n");
  }
  write_text(file.fd());
  file.Commit(folder + "/cur/" + MaildirName());
}

void StoreSentCopyOf(const message::Message& message, const net::SmtpClient& smtp) {
  try {
    std::vector<std::string> blind_copies;
    for (size_t i = 0; i < message.bcc_list().count(); ++i) {
      blind_copies.push_back(message.bcc_list()[i].address());
    }
    StoreSentCopy(blind_copies,
                  [&](int fd) { WriteMessageFile(message, smtp, fd, LineEnds::leUnix); });
  } catch (const std::exception& error) {
    throw FileError(message::FormatText(texts::kSentCopyFailed, {error.what()}));
  }
}

}  // namespace tovrel::app
