#include "net/tcp_connection.h"

#include <arpa/inet.h>
#include <errno.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "message/string_helpers.h"
#include "net/gui_pump.h"
#include "net/net_errors.h"
#include "net/socket_stack.h"

namespace tovrel::net {

namespace {

constexpr std::string_view kLineFeed = "\n";

// Readiness was a false alarm; wait again.
bool WouldBlock(int system_error) { return system_error == EAGAIN || system_error == EWOULDBLOCK; }

// The socket was shut down: it can carry nothing more in this direction.
bool IsShutDown(int system_error) { return system_error == EPIPE || system_error == ESHUTDOWN; }

}  // namespace

TcpConnection::TcpConnection(BaseComponent* owner) : NetComponent(owner) {}

TcpConnection::~TcpConnection() = default;

void TcpConnection::RaiseTimedOut() {
  CloseConnection();
  SystemStack::ThrowSocketError(kErrorTimedOut);
}

void TcpConnection::RaiseSocketFailure(int system_error) {
  // After a reset, an abort or a shut-down the socket can carry nothing more; close it so that
  // the component is ready for a new connect and no later write fails again.
  if (IsShutDown(system_error) || system_error == ECONNRESET || system_error == ECONNABORTED) {
    CloseConnection();
  }
  SystemStack::ThrowForErrno(system_error);
}

void TcpConnection::CheckPeerClosed(OnPeerClosed on_closed) {
  if (!peer_closed_ && binding_.has_handle()) return;
  if (binding_.has_handle()) CloseConnection();
  const bool raise = on_closed == OnPeerClosed::pcRaise ||
                     (on_closed == OnPeerClosed::pcRaiseWhenDrained && input_.empty());
  if (raise) throw ConnClosedGracefully();
}

bool TcpConnection::IsConnected() {
  CheckPeerClosed(OnPeerClosed::pcReturn);
  return binding_.has_handle();
}

long TcpConnection::ReceiveOnce(OnPeerClosed on_closed, WaitLimit limit) {
  return Receive(receive_area_, on_closed, limit,
                 [this](std::span<const char> received) { input_.Append(received); });
}

long TcpConnection::ReceiveInto(std::span<char> destination, OnPeerClosed on_closed,
                                WaitLimit limit) {
  return Receive(destination.empty() ? std::span<char>(receive_area_) : destination, on_closed,
                 limit, [this](std::span<const char> received) {
                   ReportWork(WorkMode::wkRead, static_cast<int64_t>(received.size()));
                 });
}

template <class Keep>
long TcpConnection::Receive(std::span<char> area, OnPeerClosed on_closed, WaitLimit limit,
                            Keep keep) {
  // Whatever was gathered must reach the peer before we wait for its answer.
  if (!output_.empty() && binding_.has_handle() && !peer_closed_) output_.FlushAll();
  CheckPeerClosed(on_closed);
  if (!IsConnected()) return 0;
  // One limit for the whole receive: a peer that trickles a record in pieces must not restart it.
  const Deadline deadline(limit);
  long count;
  int system_error;
  do {
    ConnectionIntercept* intercept = intercept_.active();
    const bool held = intercept != nullptr && intercept->HasBufferedInput();
    if (!held && !binding_.WaitReadable(deadline.Remaining())) return 0;
    if (intercept != nullptr && intercept->handles_receive()) {
      count = intercept->ReceiveInstead(area);
    } else {
      count = binding_.ReceiveBytes(area.data(), area.size(), MSG_DONTWAIT);
    }
    system_error = count < 0 ? errno : 0;
  } while (count < 0 && WouldBlock(system_error));
  peer_closed_ = count == 0;
  if (count < 0) {
    if (!IsShutDown(system_error)) RaiseSocketFailure(system_error);
    count = 0;
    if (binding_.has_handle()) CloseConnection();
    if (input_.empty()) SystemStack::ThrowForErrno(system_error);
  }
  if (count > 0) {
    std::span<char> received = area.first(static_cast<size_t>(count));
    if (ascii_filter_) {
      for (char& c : received) c = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
    }
    keep(std::span<const char>(received));
    if (ConnectionIntercept* intercept = intercept_.active()) intercept->AfterReceive(received);
  }
  CheckPeerClosed(on_closed);
  return count;
}

std::string TcpConnection::ReadLine(std::string_view terminator, WaitLimit limit) {
  return ReadLineBefore(terminator, Deadline(limit));
}

std::string TcpConnection::ReadLineBefore(std::string_view terminator, const Deadline& deadline) {
  LineReader::Search search(terminator.empty() ? kLineFeed : terminator);
  line_timed_out_ = false;
  std::optional<size_t> length;
  try {
    while (!(length = input_.FindLineEnd(search))) {
      // A closed connection ends the read even with bytes buffered: they hold no whole line.
      CheckPeerClosed(OnPeerClosed::pcRaise);
      if (ReceiveOnce(OnPeerClosed::pcRaiseWhenDrained, deadline.Remaining()) == 0) {
        line_timed_out_ = true;
        return {};
      }
    }
  } catch (const LineTooLong&) {
    CloseConnection();
    throw;
  }
  std::string line = TakeBytes(*length + search.terminator().size());
  line.resize(*length);
  if (terminator.empty() && !line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string TcpConnection::ReadNonEmptyLine() {
  return ReadNonEmptyLineBefore(Deadline(read_timeout_));
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
  const Deadline deadline(read_timeout_);
  while (input_.size() < destination.size()) {
    if (ReceiveOnce(OnPeerClosed::pcRaiseWhenDrained, deadline.Remaining()) == 0) {
      // The peer closed with too few bytes buffered: they can never become enough.
      if (!binding_.has_handle() || peer_closed_) {
        CheckPeerClosed(OnPeerClosed::pcReturn);
        throw ConnClosedGracefully();
      }
      RaiseTimedOut();
    }
  }
  input_.CopyFront(destination);
  DropBytes(destination.size());
}

std::string TcpConnection::TakeBytes(size_t count) {
  std::string bytes = input_.Front(count);
  DropBytes(count);
  return bytes;
}

void TcpConnection::DropBytes(size_t count) {
  input_.Drop(count);
  ReportWork(WorkMode::wkRead, static_cast<int64_t>(count));
}

std::string TcpConnection::TakeAvailable() {
  if (!IsConnected()) return {};
  if (ReceiveOnce(OnPeerClosed::pcReturn, read_timeout_) == 0 && binding_.has_handle() &&
      !peer_closed_) {
    RaiseTimedOut();
  }
  return TakeBytes(input_.size());
}

std::string TcpConnection::ReadUntilClosed() {
  WorkPhase phase(*this, WorkMode::wkRead);
  std::string all;
  while (IsConnected()) all += TakeAvailable();
  all += TakeBytes(input_.size());
  return all;
}

void TcpConnection::CaptureLines(std::vector<std::string>* lines, ByteStream* stream,
                                 std::string_view terminator_line, bool undouble) {
  WorkPhase phase(*this, WorkMode::wkRead);
  const Deadline deadline(read_timeout_);
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

void TcpConnection::PollForClose(OnPeerClosed on_closed) { ReceiveOnce(on_closed, 1); }

void TcpConnection::WriteText(std::string_view text) {
  if (!text.empty()) WriteBytes(text);
}

void TcpConnection::WriteLine(std::string_view text) {
  if (output_.exists()) {
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

void TcpConnection::WriteBytes(std::span<const char> bytes) {
  if (bytes.empty()) return;
  CheckPeerClosed(OnPeerClosed::pcRaise);
  if (output_.exists()) {
    output_.Gather(bytes);
  } else {
    SendNow(bytes);
  }
}

void TcpConnection::SendNow(std::span<const char> bytes) {
  size_t position = 0;
  // A socket nearly always has room for a command: the send is tried first and the wait for room
  // comes only after one that found none, which spares a system call per command.
  bool blocked = false;
  while (position < bytes.size()) {
    std::span<const char> rest = bytes.subspan(position);
    long sent;
    int system_error = 0;
    ConnectionIntercept* intercept = intercept_.active();
    if (intercept != nullptr && intercept->handles_send()) {
      // An intercept that carries the bytes over this socket needs room in it just the same.
      if (blocked && intercept->binding() == &binding_ && !binding_.WaitWritable(write_timeout_)) {
        RaiseTimedOut();
      }
      sent = intercept->SendInstead(rest);
      if (sent < 0) system_error = errno;
    } else {
      if (blocked && !binding_.WaitWritable(write_timeout_)) RaiseTimedOut();
      sent = binding_.SendBytes(rest.data(), rest.size(), MSG_DONTWAIT);
      if (sent < 0) system_error = errno;
    }
    // A socket that always has room never waits, and the window would get no turn at all.
    GuiPumpBase::IdleHook(IdleOccasion::ioBusy);
    blocked = sent < 0 && WouldBlock(system_error);
    if (blocked) continue;
    if (sent < 0) RaiseSocketFailure(system_error);
    peer_closed_ = sent == 0;
    CheckPeerClosed(OnPeerClosed::pcRaiseWhenDrained);
    if (InWork(WorkMode::wkWrite)) {
      // Unwatched, the count is only a total: no look at the send queue per piece, and no wait
      // for it to drain before the end of the message.
      if (work_watched()) {
        uncounted_ += sent;
        ReportLeftQueue();
      } else {
        ReportWork(WorkMode::wkWrite, sent);
      }
    }
    if (ConnectionIntercept* watcher = intercept_.active()) {
      watcher->AfterSend(rest.first(static_cast<size_t>(sent)));
    }
    position += static_cast<size_t>(sent);
  }
}

void TcpConnection::ReportLeftQueue() {
  if (!binding_.has_handle()) return;  // what was queued is lost with the socket
  // Under TLS the queue holds records, a little longer than the text they carry: counting them
  // as text holds the count back a little, never ahead of the peer.
  const int64_t queued = std::min(binding_.QueuedBytes(), uncounted_);
  const int64_t left = uncounted_ - queued;
  if (left <= 0) return;
  uncounted_ = queued;
  ReportWork(WorkMode::wkWrite, left);
}

void TcpConnection::StartWork(WorkMode mode, int64_t maximum) {
  if (mode == WorkMode::wkWrite && !InWork(mode)) uncounted_ = 0;
  NetComponent::StartWork(mode, maximum);
}

void TcpConnection::AwaitWritten() {
  // No wait ends when the queue empties: it is looked at again after this long.
  constexpr int kQueueLookMs = 10;
  const Deadline deadline(write_timeout_);
  for (;;) {
    ReportLeftQueue();
    if (uncounted_ == 0 || !binding_.has_handle() || peer_closed_ || !input_.empty()) return;
    const WaitLimit left = deadline.Remaining();
    if (left == WaitLimit(0)) return;
    if (binding_.WaitReadable(Shorter(left, kQueueLookMs))) {
      ReportLeftQueue();
      return;
    }
  }
}

void TcpConnection::WriteInt32(uint32_t value, ByteOrder order) {
  if (order == ByteOrder::boNetwork) value = htonl(value);
  char bytes[4];
  std::memcpy(bytes, &value, 4);
  WriteBytes(bytes);
}

void TcpConnection::WriteStreamContents(ByteStream& stream, StreamPart part, LengthPrefix prefix) {
  if (part == StreamPart::spWhole) stream.Seek(0);
  const int64_t length = stream.Size() - stream.Position();
  if (prefix == LengthPrefix::lpInt32) WriteInt32(static_cast<uint32_t>(length));
  const bool outermost = !InWork(WorkMode::wkWrite);
  WorkPhase phase(*this, WorkMode::wkWrite, length);
  stream_area_.resize(static_cast<size_t>(send_buffer_size_));
  int64_t remaining = length;
  while (remaining > 0) {
    size_t want = static_cast<size_t>(std::min<int64_t>(remaining, send_buffer_size_));
    size_t got = stream.Read(std::span<char>(stream_area_.data(), want));
    if (got == 0) throw NoDataToRead();
    WriteBytes(std::span<const char>(stream_area_.data(), got));
    remaining -= static_cast<int64_t>(got);
  }
  if (outermost) AwaitWritten();
}

int64_t TcpConnection::WriteFileContents(const std::string& path) {
  FileStream file(path, FileStream::Mode::kRead);
  const int64_t size = file.Size();
  WriteStreamContents(file);
  return size;
}

int16_t TcpConnection::SendCommand(std::string_view text, std::span<const int16_t> allowed) {
  if (text != kNoCommand) WriteLine(text);
  return ReadReply(allowed);
}

int16_t TcpConnection::SendCommand(std::string_view text, int16_t allowed_code) {
  if (allowed_code == kAnyReplyCode) return SendCommand(text, std::span<const int16_t>());
  const int16_t allowed[] = {allowed_code};
  return SendCommand(text, std::span<const int16_t>(allowed));
}

int16_t TcpConnection::ReadReply(std::span<const int16_t> allowed) {
  const Deadline deadline(read_timeout_);
  int16_t code;
  try {
    code = reply_.Read([&] { return ReadNonEmptyLineBefore(deadline); });
  } catch (const ReplyTooLong&) {
    // What follows on the connection is the rest of that reply; nothing can be read after it.
    CloseConnection();
    throw;
  }
  return CheckReplyCode(code, allowed);
}

int16_t TcpConnection::CheckReplyCode(int16_t code, std::span<const int16_t> allowed) {
  if (!ReplyReader::Accepts(allowed, code)) RaiseReplyError();
  return code;
}

void TcpConnection::RaiseReplyError() {
  throw ProtocolReplyError(reply_.code(), reply_.LastLine());
}

void TcpConnection::ResetState() {
  binding_.ClearAddresses(true);
  input_.Clear();
  output_.Discard();
  peer_closed_ = false;
}

void TcpConnection::CloseConnection() {
  if (binding_.has_handle()) {
    ReportStatus(ConnectionStatus::stDisconnecting, binding_.remote_ip());
    output_.Discard();
    if (ConnectionIntercept* intercept = intercept_.active()) intercept->BindingClosing();
    binding_.ReleaseSocket(false);
    peer_closed_ = true;
    ReportStatus(ConnectionStatus::stDisconnected, binding_.remote_ip());
    if (on_disconnected_) on_disconnected_(*this);
  }
  if (ConnectionIntercept* intercept = intercept_.active()) intercept->BindingClosed();
}

void TcpConnection::Disconnect() { CloseConnection(); }

}  // namespace tovrel::net
