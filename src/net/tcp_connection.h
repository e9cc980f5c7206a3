#pragma once

// The blocking, buffered byte and line stream over one TCP socket, with the command/reply
// exchange of line-oriented protocols on top. The connection owns the socket and its life (close
// detection, the disconnect sequence, the intercept); the received bytes and the line search live
// in a LineReader, gathered output in an OutputGatherer and the last reply in a ReplyReader.
//
// Output can be gathered: once CreatePendingOutput() was called, writes collect in a pending
// buffer that is sent whenever it reaches its threshold and before anything is read, so a
// command and its reply still alternate on the wire while small writes share one send.
//
// Limits: read_timeout() bounds each reply, line or byte-count read that would otherwise wait
// without end, write_timeout() bounds each wait for the socket to accept more bytes. When one
// passes, the connection is closed and SocketError 10060 is raised. Lines longer than
// kMaxLineLength end the read with LineTooLong, replies past ReplyReader's limits with
// ReplyTooLong; either closes the connection.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/byte_buffer.h"
#include "net/byte_stream.h"
#include "net/connection_intercept.h"
#include "net/line_reader.h"
#include "net/net_component.h"
#include "net/output_gatherer.h"
#include "net/reply_reader.h"
#include "net/socket_handle.h"
#include "net/wait_limit.h"

namespace tovrel::net {

// What to do on finding that the peer has closed; the socket is closed in any case.
enum class OnPeerClosed {
  pcReturn,            // nothing more
  pcRaiseWhenDrained,  // raise ConnClosedGracefully unless buffered bytes can still be read
  pcRaise,             // raise ConnClosedGracefully whatever is buffered
};

// Which part of a stream WriteStreamContents sends.
enum class StreamPart { spWhole, spFromPosition };
// Whether WriteStreamContents puts the length first (32 bits, network order).
enum class LengthPrefix { lpNone, lpInt32 };
enum class ByteOrder { boNetwork, boHost };

class TcpConnection : public NetComponent {
 public:
  static constexpr size_t kMaxLineLength = LineReader::kMaxLineLength;
  // SendCommand with this code accepts any reply.
  static constexpr int16_t kAnyReplyCode = -1;
  // SendCommand with this text writes nothing and only reads a reply.
  static constexpr std::string_view kNoCommand{"\0", 1};

  explicit TcpConnection(BaseComponent* owner = nullptr);
  ~TcpConnection() override;

  bool ascii_filter() const { return ascii_filter_; }
  void set_ascii_filter(bool value) { ascii_filter_ = value; }
  SocketHandle& binding() { return binding_; }
  const ByteBuffer& input_buffer() const { return input_.buffer(); }
  ConnectionIntercept* intercept() const { return intercept_.get(); }
  void set_intercept(ConnectionIntercept* intercept) { intercept_.set(intercept); }
  bool intercept_enabled() const { return intercept_.enabled(); }
  void set_intercept_enabled(bool enabled) { intercept_.set_enabled(enabled); }
  void set_on_disconnected(std::function<void(TcpConnection&)> handler) {
    on_disconnected_ = std::move(handler);
  }
  bool line_timed_out() const { return line_timed_out_; }
  bool peer_closed() const { return peer_closed_; }
  int recv_buffer_size() const { return static_cast<int>(receive_area_.size()); }
  void set_recv_buffer_size(int size) { receive_area_.resize(size > 0 ? size : 1); }
  int send_buffer_size() const { return send_buffer_size_; }
  void set_send_buffer_size(int size) { send_buffer_size_ = size > 0 ? size : 1; }
  WaitLimit read_timeout() const { return read_timeout_; }
  void set_read_timeout(WaitLimit limit) { read_timeout_ = limit; }
  WaitLimit write_timeout() const { return write_timeout_; }
  void set_write_timeout(WaitLimit limit) { write_timeout_ = limit; }

  // Reply state of the last ReadReply.
  const std::vector<std::string>& reply_lines() const { return reply_.lines(); }
  std::string LastReplyLine() const { return reply_.LastLine(); }
  int16_t reply_code() const { return reply_.code(); }

  // Reading. A receive returns the count received, 0 when the wait ran out or the peer closed.
  // ReceiveOnce appends to the input buffer; ReceiveInto fills `destination` (the receive area
  // when empty) and only counts the bytes as read work.
  virtual long ReceiveOnce(OnPeerClosed on_closed, WaitLimit limit);
  long ReceiveInto(std::span<char> destination, OnPeerClosed on_closed, WaitLimit limit);
  // An empty terminator is LF, and then one CR before it is dropped as well.
  virtual std::string ReadLine(std::string_view terminator = {}, WaitLimit limit = kWaitForever);
  std::string ReadNonEmptyLine();
  void ReadBytes(std::span<char> destination);
  virtual std::string TakeBytes(size_t count);
  virtual void DropBytes(size_t count);
  std::string TakeAvailable();
  virtual std::string ReadUntilClosed();
  // Reads lines up to `terminator_line`; with `undouble`, a leading ".." loses one dot. The
  // lines go to `lines`, to `stream` (each with CR LF), or nowhere when both are null.
  void CaptureLines(std::vector<std::string>* lines, ByteStream* stream,
                    std::string_view terminator_line, bool undouble);
  // Closes the socket once the peer has closed (or it is gone), then acts as `on_closed` says.
  virtual void CheckPeerClosed(OnPeerClosed on_closed);
  virtual bool IsConnected();
  virtual void PollForClose(OnPeerClosed on_closed);

  // Writing.
  virtual void WriteText(std::string_view text);
  virtual void WriteLine(std::string_view text);
  void WriteBytes(std::span<const char> bytes);
  void WriteLines(const std::vector<std::string>& lines);
  virtual void WriteStreamContents(ByteStream& stream, StreamPart part = StreamPart::spWhole,
                                   LengthPrefix prefix = LengthPrefix::lpNone);
  void WriteInt32(uint32_t value, ByteOrder order = ByteOrder::boNetwork);
  virtual int64_t WriteFileContents(const std::string& path);
  void CreatePendingOutput(size_t threshold) { output_.Create(threshold); }
  void FlushPendingOutput() { output_.FlushAll(); }
  // Sends the first `count` pending bytes, or all when fewer are pending.
  void FlushPendingOutput(size_t count) { output_.Flush(count); }
  void DiscardPendingOutput() { output_.Discard(); }
  // The bytes written in a write phase count as done only once they have left this machine's
  // send queue, so that a bar of them follows the peer, not the queue. This waits for the rest
  // of the open phase to leave it; it gives up, leaving the rest uncounted, when the peer has
  // something to say (it then takes no more) or the write limit has passed.
  void AwaitWritten();
  void StartWork(WorkMode mode, int64_t maximum) override;

  // Command and reply exchange. An empty allowed set accepts any code.
  virtual int16_t SendCommand(std::string_view text, std::span<const int16_t> allowed);
  int16_t SendCommand(std::string_view text, int16_t allowed_code);
  virtual int16_t ReadReply(std::span<const int16_t> allowed);
  virtual int16_t CheckReplyCode(int16_t code, std::span<const int16_t> allowed);
  [[noreturn]] virtual void RaiseReplyError();
  template <class Error>
  [[noreturn]] void RaiseForLastReply() {
    throw Error(LastReplyLine());
  }

  // Life cycle.
  virtual void ResetState();
  virtual void CloseConnection();
  virtual void Disconnect();

 protected:
  // Closes the connection and raises SocketError 10060.
  [[noreturn]] void RaiseTimedOut();
  // Closes on errors that leave the socket unusable, then raises the socket error for the errno
  // value `system_error`.
  [[noreturn]] void RaiseSocketFailure(int system_error);

 private:
  // One receive into `area`; `keep` takes what came.
  template <class Keep>
  long Receive(std::span<char> area, OnPeerClosed on_closed, WaitLimit limit, Keep keep);
  std::string ReadLineBefore(std::string_view terminator, const Deadline& deadline);
  std::string ReadNonEmptyLineBefore(const Deadline& deadline);
  void SendNow(std::span<const char> bytes);
  // Counts as done what of the phase's sent bytes has left the send queue since the last call.
  void ReportLeftQueue();

  bool ascii_filter_ = false;
  SocketHandle binding_;
  LineReader input_;
  bool peer_closed_ = false;
  ReplyReader reply_;
  InterceptSlot intercept_;
  std::function<void(TcpConnection&)> on_disconnected_;
  bool line_timed_out_ = false;
  std::vector<char> receive_area_ = std::vector<char>(32768);
  int send_buffer_size_ = 32768;
  std::vector<char> stream_area_;
  OutputGatherer output_{[this](std::span<const char> bytes) { SendNow(bytes); }};
  WaitLimit read_timeout_ = kWaitForever;
  WaitLimit write_timeout_ = kWaitForever;
  // Bytes of the open write phase handed to the socket and not yet counted as done.
  int64_t uncounted_ = 0;
};

}  // namespace tovrel::net
