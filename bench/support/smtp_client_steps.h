#pragma once

// The client side of the SMTP dialogue shared by the floors: each command waits for its reply, as
// the least dialogue a sender can have, and the prepared wire text is taken as it lies in a file.

#include <cstddef>
#include <functional>
#include <string_view>

#include "support/socket_io.h"

namespace tovrel::bench {

using SendFunction = std::function<void(std::string_view bytes)>;

// Reads one reply and throws std::runtime_error with its text unless it has `code`.
void Expect(LineReader& reader, int code);

// Sends `line` (with its CR LF) and expects `code` in reply.
void Command(const SendFunction& send, LineReader& reader, std::string_view line, int code);

// MAIL, RCPT and DATA for the bench's one sender and recipient, up to the 354 reply.
void StartMessage(const SendFunction& send, LineReader& reader);

// The end-of-data line (after a CR LF when the text does not end with one) and its 250 reply.
// Returns the bytes added to the text.
std::size_t EndMessage(const SendFunction& send, LineReader& reader, bool text_ends_with_crlf);

// A prepared wire text opened for reading: its size, and whether its last line is whole.
struct WireFile {
  explicit WireFile(const char* path);
  Fd fd;
  long long size = 0;
  bool ends_with_crlf = false;
  // Hands the text to `take` in blocks of `block_size` bytes (the last one shorter), read afresh
  // from the page cache, as a sender that copies its text through user space does.
  void ForEachBlock(std::size_t block_size,
                    const std::function<void(std::string_view)>& take) const;
};

}  // namespace tovrel::bench
