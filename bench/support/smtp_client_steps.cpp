#include "support/smtp_client_steps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

namespace tovrel::bench {

void Expect(LineReader& reader, int code) {
  std::string line;
  if (ReadReply(reader, &line) != code) throw std::runtime_error("unexpected reply: " + line);
}

void Command(const SendFunction& send, LineReader& reader, std::string_view line, int code) {
  std::string command(line);
  command += "\r\n";
  send(command);
  Expect(reader, code);
}

void StartMessage(const SendFunction& send, LineReader& reader) {
  Command(send, reader, "MAIL FROM:<sender@example.org>", 250);
  Command(send, reader, "RCPT TO:<rcpt@example.org>", 250);
  Command(send, reader, "DATA", 354);
}

std::size_t EndMessage(const SendFunction& send, LineReader& reader, bool text_ends_with_crlf) {
  // The end-of-data line must follow a CR LF; text whose last line is not whole gets one.
  send(text_ends_with_crlf ? ".\r\n" : "\r\n.\r\n");
  Expect(reader, 250);
  return text_ends_with_crlf ? 0 : 2;
}

WireFile::WireFile(const char* path) : fd(open(path, O_RDONLY | O_CLOEXEC)) {
  if (!fd.valid()) ThrowErrno(std::string("open ") + path);
  struct stat status {};
  if (fstat(fd.get(), &status) != 0) ThrowErrno(std::string("stat ") + path);
  size = status.st_size;
  char tail[2] = {};
  ends_with_crlf =
      size >= 2 && pread(fd.get(), tail, 2, size - 2) == 2 && tail[0] == '\r' && tail[1] == '\n';
}

void WireFile::ForEachBlock(std::size_t block_size,
                            const std::function<void(std::string_view)>& take) const {
  std::vector<char> block(block_size);
  off_t offset = 0;
  for (;;) {
    const ssize_t got = pread(fd.get(), block.data(), block.size(), offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("read");
    }
    if (got == 0) return;
    take(std::string_view(block.data(), static_cast<std::size_t>(got)));
    offset += got;
  }
}

}  // namespace tovrel::bench
