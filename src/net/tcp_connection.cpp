#include "net/tcp_connection.h"

#include <arpa/inet.h>
#include <errno.h>

#include <algorithm>
#include <cstring>

#include "message/string_helpers.h"
#include "net/gui_pump.h"
#include "net/net_errors.h"
#include "net/socket_stack.h"

namespace tovrel::net {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         message::EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// An optional sign and decimal digits; anything else is 0.
int16_t ReadCode(std::string_view digits) {
  size_t i = 0;
  bool negative = false;
  if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) {
    negative = digits[i] == '-';
    ++i;
  }
  if (i == digits.size()) return 0;
  int value = 0;
  for (; i < digits.size(); ++i) {
    if (digits[i] < '0' || digits[i] > '9') return 0;
    value = value * 10 + (digits[i] - '0');
  }
  return static_cast<int16_t>(negative ? -value : value);
}

// Ends a work phase on every path out of a scope.
class WorkPhase {
 public:
  WorkPhase(NetComponent& component, WorkMode mode, int64_t maximum)
      : component_(component), mode_(mode) {
    component_.StartWork(mode, maximum);
  }
  ~WorkPhase() { component_.FinishWork(mode_); }
  WorkPhase(const WorkPhase&) = delete;
  WorkPhase& operator=(const WorkPhase&) = delete;

 private:
  NetComponent& component_;
  WorkMode mode_;
};

}  // namespace

TcpConnection::Deadline TcpConnection::Deadline::After(int timeout_ms) {
  Deadline deadline;
  if (timeout_ms != kWaitForever) {
    deadline.forever = false;
    deadline.at = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  }
  return deadline;
}

int TcpConnection::Deadline::RemainingMs() const {
  if (forever) return kWaitForever;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

TcpConnection::TcpConnection(BaseComponent* owner) : NetComponent(owner) {}

TcpConnection::~TcpConnection() {
  if (intercept_ != nullptr) intercept_->RemoveUser(this);
}

void TcpConnection::set_intercept(ConnectionIntercept* intercept) {
  if (intercept_ != nullptr) intercept_->RemoveUser(this);
  intercept_ = intercept;
  if (intercept_ != nullptr) {
    intercept_->AddUser(this);
  } else {
    intercept_enabled_ = false;
  }
}

void TcpConnection::set_intercept_enabled(bool enabled) {
  if (enabled && intercept_ == nullptr) throw InterceptPropIsNil();
  intercept_enabled_ = enabled;
}

void TcpConnection::InterceptDestroyed() {
  intercept_ = nullptr;
  intercept_enabled_ = false;
}

std::string TcpConnection::LastReplyLine() const {
  return reply_lines_.empty() ? std::string() : reply_lines_.back();
}

void TcpConnection::RaiseTimedOut() {
  CloseConnection();
  SystemStack::ThrowSocketError(kErrorTimedOut);
}

void TcpConnection::RaiseSocketFailure(int error_number) {
  // After a reset or a shut-down the socket can carry nothing more; close it so that the
  // component is ready for a new connect and no later write fails again.
  if (error_number == kErrorShutdown || error_number == kErrorConnectionReset ||
      error_number == 10053) {
    CloseConnection();
  }
  SystemStack::ThrowSocketError(error_number);
}

void TcpConnection::CheckPeerClosed(bool raise, bool ignore_buffer) {
  if (!peer_closed_ && binding_.has_handle()) return;
  if (binding_.has_handle()) CloseConnection();
  if ((input_buffer_.empty() || ignore_buffer) && raise) throw ConnClosedGracefully();
}

bool TcpConnection::IsConnected() {
  CheckPeerClosed(false, false);
  return binding_.has_handle();
}

long TcpConnection::ReceiveOnce(bool raise_if_closed, int timeout_ms, bool use_buffer,
                                std::span<char> destination) {
  // Whatever was gathered must reach the peer before we wait for its answer.
  if (pending_output_ && !pending_output_->empty() && binding_.has_handle() && !peer_closed_) {
    FlushPendingOutput(-1);
  }
  CheckPeerClosed(raise_if_closed, false);
  if (!IsConnected()) return 0;
  std::span<char> area = destination.empty() ? std::span<char>(receive_area_) : destination;
  long count;
  int error_number;
  do {
    if (!binding_.WaitReadable(timeout_ms)) return 0;
    error_number = 0;
    if (intercept_enabled_ && intercept_->handles_receive()) {
      count = intercept_->ReceiveInstead(area);
    } else {
      count = binding_.ReceiveBytes(area.data(), area.size(), MSG_DONTWAIT);
    }
    if (count < 0) error_number = SystemStack::LastError();
  } while (count < 0 && error_number == kErrorWouldBlock);  // readable was a false alarm
  peer_closed_ = count == 0;
  if (count < 0) {
    if (error_number == kErrorShutdown) {
      count = 0;
      if (binding_.has_handle()) CloseConnection();
      if (input_buffer_.empty()) SystemStack::ThrowSocketError(kErrorShutdown);
    } else {
      RaiseSocketFailure(error_number);
    }
  }
  if (count > 0) {
    std::span<char> received = area.first(static_cast<size_t>(count));
    if (ascii_filter_) {
      for (char& c : received) c = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
    }
    if (use_buffer) {
      input_buffer_.Append(received);
    } else {
      ReportWork(WorkMode::wkRead, count);
    }
    if (intercept_enabled_) intercept_->AfterReceive(received);
  }
  CheckPeerClosed(raise_if_closed, false);
  return count;
}

std::string TcpConnection::ReadLine(std::string_view terminator, int timeout_ms) {
  return ReadLineBefore(terminator, Deadline::After(timeout_ms));
}

std::string TcpConnection::ReadLineBefore(std::string_view terminator, const Deadline& deadline) {
  const std::string_view wanted = terminator.empty() ? std::string_view("\n") : terminator;
  line_timed_out_ = false;
  size_t searched = 0;  // bytes already known to hold no terminator start
  size_t found;
  for (;;) {
    if (!input_buffer_.empty()) {
      found = input_buffer_.view().find(wanted, searched);
      if (found != std::string_view::npos) break;
      if (input_buffer_.size() > kMaxLineLength + 1 + wanted.size()) {
        CloseConnection();
        throw LineTooLong();
      }
      searched =
          input_buffer_.size() >= wanted.size() ? input_buffer_.size() - wanted.size() + 1 : 0;
    }
    CheckPeerClosed(true, true);
    if (ReceiveOnce(true, deadline.RemainingMs(), true) == 0) {
      line_timed_out_ = true;
      return {};
    }
  }
  if (found > kMaxLineLength + 1) {  // one CR may still come off
    CloseConnection();
    throw LineTooLong();
  }
  std::string line = TakeBytes(found + wanted.size());
  line.resize(found);
  if (terminator.empty() && !line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string TcpConnection::ReadNonEmptyLine() {
  return ReadNonEmptyLineBefore(Deadline::After(read_timeout_));
}

std::string TcpConnection::ReadNonEmptyLineBefore(const Deadline& deadline) {
  for (;;) {
    std::string line = ReadLineBefore({}, deadline);
    if (line_timed_out_) {
      // A close with a partial line buffered ends the wait too; the next read reports it.
      if (!binding_.has_handle() || peer_closed_) continue;
      RaiseTimedOut();
    }
    std::string trimmed(message::TrimControl(line));
    if (!trimmed.empty()) return trimmed;
  }
}

void TcpConnection::ReadBytes(std::span<char> destination) {
  if (destination.empty()) return;
  const Deadline deadline = Deadline::After(read_timeout_);
  while (input_buffer_.size() < destination.size()) {
    if (ReceiveOnce(true, deadline.RemainingMs(), true) == 0) {
      // The peer closed with too few bytes buffered: they can never become enough.
      if (!binding_.has_handle() || peer_closed_) {
        CheckPeerClosed(false, false);
        throw ConnClosedGracefully();
      }
      RaiseTimedOut();
    }
  }
  std::memcpy(destination.data(), input_buffer_.view().data(), destination.size());
  DropBytes(destination.size());
}

std::string TcpConnection::TakeBytes(size_t count) {
  if (count > input_buffer_.size()) throw NotEnoughDataInBuffer();
  std::string bytes(input_buffer_.view().substr(0, count));
  DropBytes(count);
  return bytes;
}

void TcpConnection::DropBytes(size_t count) {
  input_buffer_.RemoveFromFront(count);
  ReportWork(WorkMode::wkRead, static_cast<int64_t>(count));
}

std::string TcpConnection::TakeAvailable() {
  if (!IsConnected()) return {};
  if (ReceiveOnce(false, read_timeout_, true) == 0 && binding_.has_handle() && !peer_closed_) {
    RaiseTimedOut();
  }
  return TakeBytes(input_buffer_.size());
}

std::string TcpConnection::ReadUntilClosed() {
  WorkPhase phase(*this, WorkMode::wkRead, 0);
  std::string all;
  while (IsConnected()) all += TakeAvailable();
  all += TakeBytes(input_buffer_.size());
  return all;
}

void TcpConnection::CaptureLines(std::vector<std::string>* lines, ByteStream* stream,
                                 std::string_view terminator_line, bool undouble) {
  WorkPhase phase(*this, WorkMode::wkRead, 0);
  const Deadline deadline = Deadline::After(read_timeout_);
  for (;;) {
    std::string line = ReadLineBefore({}, deadline);
    if (line_timed_out_) {
      if (!binding_.has_handle() || peer_closed_) continue;
      RaiseTimedOut();
    }
    if (line == terminator_line) break;
    if (undouble && line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
    if (lines != nullptr) {
      lines->push_back(std::move(line));
    } else if (stream != nullptr) {
      line += "\r\n";
      stream->Write(line);
    }
  }
}

void TcpConnection::PollForClose(bool raise) { ReceiveOnce(raise, 1, true); }

void TcpConnection::WriteText(std::string_view text) {
  if (!text.empty()) WriteBytes(text, false);
}

void TcpConnection::WriteLine(std::string_view text) {
  if (pending_output_) {
    // Gathered output joins the two pieces anyway; a line of its own would be a copy per line.
    WriteText(text);
    WriteText("\r\n");
    return;
  }
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  WriteText(line);
}

void TcpConnection::WriteLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) WriteLine(line);
}

void TcpConnection::WriteBytes(std::span<const char> bytes, bool write_now) {
  if (bytes.empty()) return;
  CheckPeerClosed(true, true);
  if (pending_output_ && !write_now) {
    if (pending_output_threshold_ > 0 && pending_output_->empty() &&
        bytes.size() >= pending_output_threshold_) {
      // Already large enough to go out on its own: spare the copy.
      SendNow(bytes);
      return;
    }
    pending_output_->Append(bytes);
    while (pending_output_threshold_ > 0 && pending_output_->size() >= pending_output_threshold_) {
      FlushPendingOutput(static_cast<long>(pending_output_threshold_));
    }
    return;
  }
  SendNow(bytes);
}

void TcpConnection::SendNow(std::span<const char> bytes) {
  size_t position = 0;
  while (position < bytes.size()) {
    std::span<const char> rest = bytes.subspan(position);
    long sent;
    int error_number = 0;
    if (intercept_enabled_ && intercept_->handles_send()) {
      sent = intercept_->SendInstead(rest);
      if (sent < 0) error_number = SystemStack::LastError();
    } else {
      if (!binding_.WaitWritable(write_timeout_)) RaiseTimedOut();
      sent = binding_.SendBytes(rest.data(), rest.size(), MSG_DONTWAIT);
      if (sent < 0) error_number = SystemStack::LastError();
      GuiPumpBase::IdleHook(false, false);
    }
    if (sent < 0) {
      if (error_number == kErrorWouldBlock) continue;
      RaiseSocketFailure(error_number);
    }
    peer_closed_ = sent == 0;
    CheckPeerClosed(true, false);
    ReportWork(WorkMode::wkWrite, sent);
    if (intercept_enabled_) intercept_->AfterSend(rest.first(static_cast<size_t>(sent)));
    position += static_cast<size_t>(sent);
  }
}

void TcpConnection::CreatePendingOutput(size_t threshold) {
  if (!pending_output_) pending_output_.emplace();
  pending_output_threshold_ = threshold;
}

void TcpConnection::FlushPendingOutput(long count) {
  if (!pending_output_ || pending_output_->empty()) return;
  ByteBuffer& pending = *pending_output_;
  if (count < 0 || pending.size() < static_cast<size_t>(count)) {
    // Take the bytes out first: a failed send must not leave them to go out again later.
    std::string all(pending.view());
    pending.Clear();
    SendNow(all);
  } else {
    try {
      SendNow(pending.view().substr(0, static_cast<size_t>(count)));
    } catch (...) {
      // Part of it may be out already; what is left must not follow later out of order.
      pending.Clear();
      throw;
    }
    pending.RemoveFromFront(static_cast<size_t>(count));
  }
}

void TcpConnection::DiscardPendingOutput() {
  if (pending_output_) pending_output_->Clear();
}

void TcpConnection::WriteInt32(uint32_t value, bool network_order) {
  if (network_order) value = htonl(value);
  char bytes[4];
  std::memcpy(bytes, &value, 4);
  WriteBytes(bytes, false);
}

void TcpConnection::WriteStreamContents(ByteStream& stream, bool from_start, bool write_length) {
  if (from_start) stream.Seek(0);
  const int64_t length = stream.Size() - stream.Position();
  if (write_length) WriteInt32(static_cast<uint32_t>(length), true);
  WorkPhase phase(*this, WorkMode::wkWrite, length);
  stream_area_.resize(static_cast<size_t>(send_buffer_size_));
  int64_t remaining = length;
  while (remaining > 0) {
    size_t want = static_cast<size_t>(std::min<int64_t>(remaining, send_buffer_size_));
    size_t got = stream.Read(std::span<char>(stream_area_.data(), want));
    if (got == 0) throw NoDataToRead();
    WriteBytes(std::span<const char>(stream_area_.data(), got), false);
    remaining -= static_cast<int64_t>(got);
  }
}

int64_t TcpConnection::WriteFileContents(const std::string& path, bool) {
  FileStream file(path, FileStream::Mode::kRead);
  const int64_t size = file.Size();
  WriteStreamContents(file, true, false);
  return size;
}

int16_t TcpConnection::SendCommand(std::string_view text, std::span<const int16_t> allowed) {
  if (!(text.size() == 1 && text[0] == '\0')) WriteLine(text);
  return ReadReply(allowed);
}

int16_t TcpConnection::SendCommand(std::string_view text, int16_t allowed_code) {
  if (allowed_code == -1) return SendCommand(text, std::span<const int16_t>());
  const int16_t allowed[] = {allowed_code};
  return SendCommand(text, std::span<const int16_t>(allowed));
}

int16_t TcpConnection::ReadReply(std::span<const int16_t> allowed) {
  reply_lines_.clear();
  const Deadline deadline = Deadline::After(read_timeout_);
  reply_lines_.push_back(ReadNonEmptyLineBefore(deadline));
  const std::string& first = reply_lines_.front();
  if (first.size() > 3 && first[3] == '-') {
    const std::string terminator = first.substr(0, 3) + " ";
    for (;;) {
      reply_lines_.push_back(ReadNonEmptyLineBefore(deadline));
      const std::string& line = reply_lines_.back();
      if (line.size() < 4 || StartsWithNoCase(line, terminator)) break;
    }
  }
  const std::string last = LastReplyLine();
  if (StartsWithNoCase(last, "+OK")) {
    reply_code_ = 1;
  } else if (StartsWithNoCase(last, "-ERR")) {
    reply_code_ = 0;
  } else {
    reply_code_ = ReadCode(std::string_view(last).substr(0, 3));
  }
  return CheckReplyCode(reply_code_, allowed);
}

int16_t TcpConnection::CheckReplyCode(int16_t code, std::span<const int16_t> allowed) {
  if (allowed.empty()) return code;
  if (std::find(allowed.begin(), allowed.end(), code) == allowed.end()) RaiseReplyError();
  return code;
}

void TcpConnection::RaiseReplyError() { throw ProtocolReplyError(reply_code_, LastReplyLine()); }

void TcpConnection::ResetState() {
  binding_.ClearAddresses(true);
  input_buffer_.Clear();
  DiscardPendingOutput();
  peer_closed_ = false;
}

void TcpConnection::CloseConnection() {
  if (binding_.has_handle()) {
    ReportStatus(ConnectionStatus::stDisconnecting, binding_.remote_ip());
    DiscardPendingOutput();
    binding_.ReleaseSocket(false);
    peer_closed_ = true;
    ReportStatus(ConnectionStatus::stDisconnected, binding_.remote_ip());
    if (on_disconnected_) on_disconnected_(*this);
  }
  if (intercept_enabled_ && intercept_ != nullptr) intercept_->BindingClosed();
}

void TcpConnection::Disconnect() { CloseConnection(); }

}  // namespace tovrel::net
