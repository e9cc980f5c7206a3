// A server's bytes, in pieces of any size, read as replies by the real connection. Each reply's
// lines are trimmed and hold no line break; what the connection keeps (the reply's lines and the
// bytes not yet read) never exceeds what the server sent, and stays under the caps of one reply.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz_check.h"
#include "message/net_error.h"
#include "net/connection_intercept.h"
#include "net/reply_reader.h"
#include "net/tcp_connection.h"

namespace tovrel::fuzz {
namespace {

// Stands in for the socket: each receive hands over the next piece, then the peer closes.
class PieceSource : public net::ConnectionIntercept {
 public:
  explicit PieceSource(FuzzedDataProvider& input) : input_(input) { set_handles_receive(true); }
  bool HasBufferedInput() const override { return true; }
  long ReceiveInstead(std::span<char> area) override {
    if (input_.remaining_bytes() == 0) return 0;
    const std::size_t limit = std::min<std::size_t>(area.size(), 70000);
    const std::size_t want = input_.ConsumeIntegralInRange<std::size_t>(1, limit);
    const std::string piece = input_.ConsumeBytesAsString(want);
    if (piece.empty()) return 0;
    std::copy(piece.begin(), piece.end(), area.begin());
    fed_ += piece.size();
    line_feeds_ += static_cast<std::size_t>(std::count(piece.begin(), piece.end(), '\n'));
    return static_cast<long>(piece.size());
  }
  std::size_t fed() const { return fed_; }
  std::size_t line_feeds() const { return line_feeds_; }

 private:
  FuzzedDataProvider& input_;
  std::size_t fed_ = 0;
  std::size_t line_feeds_ = 0;
};

void CheckReply(const net::TcpConnection& connection, const PieceSource& source) {
  std::size_t in_lines = 0;
  for (const std::string& line : connection.reply_lines()) {
    in_lines += line.size();
    Require(line.find('\n') == std::string::npos, "a reply line holds a line feed");
    if (!line.empty()) {
      Require(static_cast<unsigned char>(line.front()) > 32 &&
                  static_cast<unsigned char>(line.back()) > 32,
              "a reply line is not trimmed");
    }
  }
  Require(in_lines + connection.input_buffer().size() <= source.fed(),
          "the connection holds more than the server sent");
  Require(connection.reply_lines().size() <= source.line_feeds(),
          "more reply lines than lines sent");
  Require(connection.reply_lines().size() <= net::ReplyReader::kMaxLines,
          "a reply past its line cap");
  // The line that crosses the byte cap is kept before the read gives up.
  const std::size_t last =
      connection.reply_lines().empty() ? 0 : connection.reply_lines().back().size();
  Require(in_lines - last <= net::ReplyReader::kMaxBytes, "a reply past its byte cap");
}

int TestOne(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const int receive_size = input.ConsumeIntegralInRange<int>(1, 32768);
  PieceSource source(input);
  net::TcpConnection connection;
  connection.set_recv_buffer_size(receive_size);
  connection.set_intercept(&source);
  connection.set_intercept_enabled(true);
  connection.binding().OpenSocket();
  for (int reply = 0; reply < 64; ++reply) {
    try {
      connection.ReadReply({});
    } catch (const message::NetError&) {
      CheckReply(connection, source);
      break;
    }
    CheckReply(connection, source);
  }
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
