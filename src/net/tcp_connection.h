#pragma once

// The blocking, buffered byte and line stream over one TCP socket, with the command/reply
// exchange of line-oriented protocols on top.
//
// Output can be gathered: once CreatePendingOutput() was called, writes collect in a pending
// buffer that is sent whenever it reaches its threshold and before anything is read, so a
// command and its reply still alternate on the wire while small writes share one send.
//
// Limits: read_timeout() bounds each reply, line or byte-count read that would otherwise wait
// without end, write_timeout() bounds each wait for the socket to accept more bytes. When one
// passes, the connection is closed and SocketError 10060 is raised. Lines longer than
// kMaxLineLength end the read with LineTooLong and close the connection.

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/byte_buffer.h"
#include "net/byte_stream.h"
#include "net/connection_intercept.h"
#include "net/net_component.h"
#include "net/socket_handle.h"

namespace tovrel::net {

class TcpConnection : public NetComponent, private InterceptUser {
 public:
  static constexpr size_t kMaxLineLength = 64 * 1024;

  explicit TcpConnection(BaseComponent* owner = nullptr);
  ~TcpConnection() override;

  bool ascii_filter() const { return ascii_filter_; }
  void set_ascii_filter(bool value) { ascii_filter_ = value; }
  SocketHandle& binding() { return binding_; }
  const ByteBuffer& input_buffer() const { return input_buffer_; }
  ConnectionIntercept* intercept() const { return intercept_; }
  void set_intercept(ConnectionIntercept* intercept);
  bool intercept_enabled() const { return intercept_enabled_; }
  void set_intercept_enabled(bool enabled);
  void set_on_disconnected(std::function<void(TcpConnection&)> handler) {
    on_disconnected_ = std::move(handler);
  }
  bool line_timed_out() const { return line_timed_out_; }
  bool peer_closed() const { return peer_closed_; }
  int recv_buffer_size() const { return static_cast<int>(receive_area_.size()); }
  void set_recv_buffer_size(int size) { receive_area_.resize(size > 0 ? size : 1); }
  int send_buffer_size() const { return send_buffer_size_; }
  void set_send_buffer_size(int size) { send_buffer_size_ = size > 0 ? size : 1; }
  int read_timeout() const { return read_timeout_; }
  void set_read_timeout(int milliseconds) { read_timeout_ = milliseconds; }
  int write_timeout() const { return write_timeout_; }
  void set_write_timeout(int milliseconds) { write_timeout_ = milliseconds; }

  // Reply state of the last ReadReply.
  const std::vector<std::string>& reply_lines() const { return reply_lines_; }
  std::string LastReplyLine() const;
  int16_t reply_code() const { return reply_code_; }

  // Reading.
  virtual long ReceiveOnce(bool raise_if_closed, int timeout_ms, bool use_buffer,
                           std::span<char> destination = {});
  virtual std::string ReadLine(std::string_view terminator = {}, int timeout_ms = kWaitForever);
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
  virtual void CheckPeerClosed(bool raise, bool ignore_buffer);
  virtual bool IsConnected();
  virtual void PollForClose(bool raise);

  // Writing.
  virtual void WriteText(std::string_view text);
  virtual void WriteLine(std::string_view text);
  void WriteBytes(std::span<const char> bytes, bool write_now = false);
  void WriteLines(const std::vector<std::string>& lines);
  virtual void WriteStreamContents(ByteStream& stream, bool from_start = true,
                                   bool write_length = false);
  void WriteInt32(uint32_t value, bool network_order = true);
  virtual int64_t WriteFileContents(const std::string& path, bool allow_platform_transfer = true);
  void CreatePendingOutput(size_t threshold);
  bool has_pending_output() const { return pending_output_.has_value(); }
  size_t pending_output_size() const { return pending_output_ ? pending_output_->size() : 0; }
  void FlushPendingOutput(long count = -1);
  void DiscardPendingOutput();

  // Command and reply exchange. An empty allowed set accepts any code.
  virtual int16_t SendCommand(std::string_view text, std::span<const int16_t> allowed);
  // -1 accepts any code.
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
  // Closes on errors that leave the socket unusable, then raises the socket error.
  [[noreturn]] void RaiseSocketFailure(int error_number);

 private:
  using Clock = std::chrono::steady_clock;
  struct Deadline {
    bool forever = true;
    Clock::time_point at{};
    static Deadline After(int timeout_ms);
    int RemainingMs() const;
  };

  std::string ReadLineBefore(std::string_view terminator, const Deadline& deadline);
  std::string ReadNonEmptyLineBefore(const Deadline& deadline);
  void SendNow(std::span<const char> bytes);
  void InterceptDestroyed() override;

  bool ascii_filter_ = false;
  SocketHandle binding_;
  ByteBuffer input_buffer_;
  bool peer_closed_ = false;
  std::vector<std::string> reply_lines_;
  int16_t reply_code_ = 0;
  ConnectionIntercept* intercept_ = nullptr;
  bool intercept_enabled_ = false;
  std::function<void(TcpConnection&)> on_disconnected_;
  bool line_timed_out_ = false;
  std::vector<char> receive_area_ = std::vector<char>(32768);
  int send_buffer_size_ = 32768;
  std::vector<char> stream_area_;
  std::optional<ByteBuffer> pending_output_;
  size_t pending_output_threshold_ = 0;
  int read_timeout_ = kWaitForever;
  int write_timeout_ = kWaitForever;
};

}  // namespace tovrel::net
