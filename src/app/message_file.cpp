#include "app/message_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/app_errors.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

// A writer whose connection is a file. The text reaches it dot-stuffed; each line's first dot is
// taken off again, which undoes the stuffing exactly, since a line is stuffed only when it
// begins with a dot.
class FileSink : public net::MessageClient {
 public:
  FileSink(int fd, LineEnds line_ends) : fd_(fd), unix_(line_ends == LineEnds::leUnix) {}

  // The writer hands over a line or less at a time: the file gets whole blocks.
  void WriteText(std::string_view text) override {
    for (const char c : text) Take(c);
    if (out_.size() >= kBlock) Flush();
  }
  void WriteLine(std::string_view text) override {
    WriteText(text);
    WriteText("\r\n");
  }
  void Finish() {
    if (after_cr_) out_.push_back('\r');
    Flush();
  }

 private:
  void Take(char c) {
    if (line_start_ && c == '.') {
      line_start_ = false;
      return;
    }
    if (after_cr_) {
      after_cr_ = false;
      if (c == '\n') {
        if (!unix_) out_.push_back('\r');
        out_.push_back('\n');
        line_start_ = true;
        return;
      }
      out_.push_back('\r');
    }
    line_start_ = false;
    if (c == '\r') {
      after_cr_ = true;
    } else {
      out_.push_back(c);
    }
  }
  static constexpr size_t kBlock = 64 * 1024;

  void Flush() {
    Put(out_);
    out_.clear();
  }
  void Put(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) {
        throw FileError(message::FormatText(texts::kCannotWriteCopy, {std::strerror(errno)}));
      }
      bytes.remove_prefix(static_cast<size_t>(written));
    }
  }

  int fd_;
  bool unix_;
  bool line_start_ = true;
  bool after_cr_ = false;
  std::string out_;
};

// A pipe gave its bytes to the send; writing the message again would find it empty.
void CheckReadableAgain(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    throw FileError(message::FormatText(texts::kNotReadableAgain, {path}));
  }
}

}  // namespace

void WriteMessageFile(const message::Message& message, const net::SmtpClient& smtp, int fd,
                      LineEnds line_ends) {
  // The send read the body already (a pipe into its spool): that is the text to write.
  const std::shared_ptr<message::BodyFile>& body = smtp.body_file();
  const bool body_read = body && body->path() == message.body_file();
  if (!message.body_file().empty() && !body_read) CheckReadableAgain(message.body_file());
  for (size_t i = 0; i < message.parts().count(); ++i) {
    if (const message::Attachment* attachment = message.parts()[i].AsAttachment()) {
      CheckReadableAgain(attachment->file_name());
    }
  }
  FileSink sink(fd, line_ends);
  sink.set_locale(smtp.locale());
  sink.set_eight_bit_allowed(smtp.eight_bit_allowed());
  if (body_read) sink.UseBodyFile(body);
  sink.WriteMessage(message, smtp.mail_agent());
  sink.Finish();
}

}  // namespace tovrel::app
