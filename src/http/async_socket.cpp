#include "http/async_socket.h"

#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>

#include "http/http_error.h"
#include "http/socket_error_table.h"
#include "http/texts.h"

namespace tovrel::http {
namespace {

namespace t = texts;

// Runs a clean-up step when a scope ends, whichever way it ends.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() { f_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
};

// Calls an event handler whose failures must not disturb the socket's own bookkeeping.
template <typename Handler, typename... Args>
void CallQuietly(const Handler& handler, Args&&... args) {
  if (!handler) return;
  try {
    handler(std::forward<Args>(args)...);
  } catch (...) {
  }
}

}  // namespace

AsyncSocket::AsyncSocket(QObject* owner) : QObject(owner), line_buffer_(kLineBufferSize + 1) {
  PostStatus(t::kLevelDetail, t::kCreate);
  read_notifier_.setEnabled(false);
  write_notifier_.setEnabled(false);
  QObject::connect(&read_notifier_, &QSocketNotifier::activated, this, [this] { OnReadable(); });
  QObject::connect(&write_notifier_, &QSocketNotifier::activated, this, [this] { OnWritable(); });
  timer_.set_enabled(false);
  timer_.set_on_timer([this] { TimerFired(); });
  // The socket itself is opened by Connect, once the address family is known.
  PostStatus(t::kLevelDetail, t::kInitializing);
}

AsyncSocket::~AsyncSocket() {
  // Handlers belong to the owner, which may be half torn down by now: call none of them.
  destroying_ = true;
  PostStatus(t::kLevelDetail, t::kDestroy);
  AsyncSocket::Abort();
  Cancel();
  timer_.set_enabled(false);
  try {
    CloseSocket();
  } catch (...) {
  }
}

void AsyncSocket::PostStatus(int level, std::string_view text) {
  if (report_level_ < level) return;
  status_text_ = std::string(text);
  if (!destroying_) CallQuietly(on_status_, *this, status_text_);
}

void AsyncSocket::OpenSocket(int family) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) throw SockError(t::kInitFailed);
  // A close resets the connection rather than lingering over unsent data.
  const linger no_linger{1, 0};
  if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &no_linger, sizeof no_linger) != 0) {
    ::close(fd);
    throw SockError(t::kInitFailed);
  }
  socket_ = fd;
  read_notifier_.setSocket(fd);
  write_notifier_.setSocket(fd);
  read_notifier_.setEnabled(false);
  write_notifier_.setEnabled(false);
}

void AsyncSocket::DropSocket() {
  connecting_ = false;
  if (socket_ < 0) return;
  // The notifiers must let go of the descriptor before it is closed.
  read_notifier_.setEnabled(false);
  write_notifier_.setEnabled(false);
  ::close(socket_);
  socket_ = -1;
}

void AsyncSocket::CloseSocket() {
  PostStatus(t::kLevelSocket, t::kRequestClose);
  connected_ = false;
  connecting_ = false;
  if (socket_ < 0) return;
  read_notifier_.setEnabled(false);
  write_notifier_.setEnabled(false);
  const int fd = socket_;
  socket_ = -1;
  if (::close(fd) != 0 && errno != EINTR) CheckSocketError(errno, kWouldBlock);
  if (destroying_) return;
  CallQuietly(on_disconnect_, *this);
}

void AsyncSocket::Pump(bool wait) {
  QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
  if (wait) flags |= QEventLoop::WaitForMoreEvents;
  QCoreApplication::processEvents(flags);
}

void AsyncSocket::WaitForReadable() {
  if (socket_ >= 0) read_notifier_.setEnabled(true);
  Pump(true);
}

void AsyncSocket::OnReadable() {
  try {
    if (DataAvailable()) {
      succeeded_ = true;
      // Level-triggered: quiet it until a reader waits again, or an idle client would spin.
      read_notifier_.setEnabled(false);
      CallQuietly(on_data_ready_, *this);
      return;
    }
    char probe = 0;
    const ssize_t n = ::recv(socket_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    // The peer closed (n == 0) or the connection failed: both end the connection.
    succeeded_ = n == 0;
    if (n < 0) last_error_no_ = SocketErrorFromErrno(errno);
    CloseSocket();
  } catch (...) {
  }
}

void AsyncSocket::OnWritable() {
  try {
    write_notifier_.setEnabled(false);
    if (!connecting_) {
      writable_ = true;
      return;
    }
    connecting_ = false;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    succeeded_ = error == 0;
    if (!succeeded_) {
      last_error_no_ = SocketErrorFromErrno(error);
      return;
    }
    connected_ = true;
    CallQuietly(on_connect_, *this);
  } catch (...) {
  }
}

bool AsyncSocket::DataAvailable() {
  PostStatus(t::kLevelDetail, t::kDataAvailable);
  int waiting = 0;
  return socket_ >= 0 && ::ioctl(socket_, FIONREAD, &waiting) == 0 && waiting > 0;
}

void AsyncSocket::ResolveHost() {
  PostStatus(t::kLevelDetail, t::kResolveHost);
  const std::string& name = proxy_.empty() ? host_ : proxy_;
  remote_address_ = {};
  if (std::optional<PeerAddress> literal = PeerAddress::FromLiteral(name)) {
    addresses_ = {*literal};
    return;
  }
  addresses_.clear();
  TimerOn();
  async_done_ = false;
  const unsigned serial = ++lookup_serial_;
  try {
    lookup_.Start(name, [this, serial](LookupResult result) {
      if (serial != lookup_serial_) return;  // an answer nobody waits for any more
      succeeded_ = result.error_number == 0;
      lookup_result_ = std::move(result);
      async_done_ = true;
    });
  } catch (const std::system_error&) {
    TimerOff();
    throw SockError(t::kLookupFailed);
  }
  while (!async_done_ && !timed_out_ && !canceled_) Pump(true);
  ++lookup_serial_;
  TimerOff();
  if (timed_out_) throw UnreachableError(t::kLookupTimedOut);
  if (canceled_) throw SockError(t::kLookupCanceled);
  if (!succeeded_) {
    last_error_no_ = lookup_result_.error_number;
    throw UnreachableError(t::kLookupFailed);
  }
  addresses_ = std::move(lookup_result_.addresses);
  CallQuietly(on_host_resolved_, *this);
}

AsyncSocket::Attempt AsyncSocket::TryConnect(const PeerAddress& peer) {
  DropSocket();
  try {
    OpenSocket(peer.family());
  } catch (const SockError&) {
    return Attempt::kNoSocket;  // this family may be switched off; another may still work
  }
  async_done_ = false;
  succeeded_ = true;
  if (::connect(socket_, peer.get(), peer.length()) == 0) {
    connected_ = true;
    CallQuietly(on_connect_, *this);
  } else if (errno == EINPROGRESS || errno == EAGAIN) {
    connecting_ = true;
    write_notifier_.setEnabled(true);
  } else {
    last_error_no_ = SocketErrorFromErrno(errno);
    return Attempt::kSocketError;
  }
  TimerOn();
  while (!connected_ && !timed_out_ && !canceled_ && succeeded_) Pump(true);
  TimerOff();
  if (!timed_out_ && !canceled_ && succeeded_) return Attempt::kConnected;
  connecting_ = false;
  write_notifier_.setEnabled(false);
  if (timed_out_) return Attempt::kTimedOut;
  if (canceled_) return Attempt::kCanceled;
  return Attempt::kFailed;
}

void AsyncSocket::Connect() {
  PostStatus(t::kLevelDetail, t::kConnecting);
  canceled_ = false;
  if (connected_) throw SockError(t::kAlreadyConnected);
  for (bool first = true;; first = false) {
    try {
      ResolveHost();
    } catch (const SockError& e) {
      const std::string_view text = e.what();
      if (text == t::kLookupTimedOut || text == t::kLookupCanceled) throw;
    }
    if (!addresses_.empty()) break;
    bool handled = false;
    if (first && on_invalid_host_) on_invalid_host_(*this, handled);
    if (!handled) throw UnreachableError(t::kNullRemoteAddress);
  }

  // A copy: handlers run during the waits and may start a lookup of their own.
  const std::vector<PeerAddress> addresses = addresses_;
  const int port = proxy_.empty() ? port_ : proxy_port_;
  Attempt attempt = Attempt::kNoSocket;
  for (const PeerAddress& address : addresses) {
    remote_address_ = address;
    remote_address_.set_port(port);
    attempt = TryConnect(remote_address_);
    if (attempt == Attempt::kConnected) {
      read_notifier_.setEnabled(true);
      return;
    }
    DropSocket();
    if (attempt == Attempt::kCanceled) break;  // the user's cancel ends the whole walk
    // A time-out cancels the wait it ends; the next address gets a wait of its own.
    if (attempt == Attempt::kTimedOut && &address != &addresses.back()) canceled_ = false;
  }
  switch (attempt) {
    case Attempt::kNoSocket:
      throw SockError(t::kInitFailed);
    case Attempt::kSocketError: {
      const std::string text = ErrorText(last_error_no_);
      CallQuietly(on_socket_error_, *this, text);
      throw UnreachableError(text);
    }
    default:
      break;
  }
  CallQuietly(on_connection_failed_, *this);
  if (attempt == Attempt::kTimedOut) throw UnreachableError(t::kConnectTimedOut);
  if (attempt == Attempt::kCanceled) throw SockError(t::kConnectCanceled);
  throw UnreachableError(t::kConnectFailed);
}

void AsyncSocket::Disconnect() {
  PostStatus(t::kLevelDetail, t::kDisconnecting);
  CloseSocket();
}

void AsyncSocket::Cancel() {
  PostStatus(t::kLevelDetail, t::kCanceling);
  canceled_ = true;
}

void AsyncSocket::Abort() {
  PostStatus(t::kLevelDetail, t::kAbort);
  Cancel();
}

void AsyncSocket::TimerOn() {
  PostStatus(t::kLevelDetail, t::kTimerOn);
  timed_out_ = false;
  timer_.set_interval(time_out_ > 0 ? unsigned(time_out_) : 0);
  timer_.set_enabled(true);
}

void AsyncSocket::TimerOff() {
  PostStatus(t::kLevelDetail, t::kTimerOff);
  timer_.set_enabled(false);
}

void AsyncSocket::TimerFired() {
  PostStatus(t::kLevelDetail, t::kTimerTriggered);
  TimerOff();
  timed_out_ = true;
  async_done_ = true;
  Abort();
}

void AsyncSocket::CheckSocketError(int system_errno, int ignored) {
  last_error_no_ = SocketErrorFromErrno(system_errno);
  if (last_error_no_ == ignored || last_error_no_ <= 10000) return;
  const std::string text = ErrorText(last_error_no_);
  CallQuietly(on_socket_error_, *this, text);
  throw SockError(text);
}

std::string AsyncSocket::ErrorText(int number) {
  PostStatus(t::kLevelDetail, t::kLookingUpError);
  return SocketErrorText(number);
}

void AsyncSocket::SendAll(std::string_view data, bool account) {
  if (socket_ < 0 && !data.empty()) CheckSocketError(ENOTCONN, kWouldBlock);
  std::size_t sent = 0;
  while (sent < data.size() && !canceled_) {
    const ssize_t n =
        ::send(socket_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += std::size_t(n);
      if (account) {
        bytes_sent_ += n;
        CallQuietly(on_packet_sent_, *this);
        Pump(false);
      }
      continue;
    }
    if (n == 0) break;
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EAGAIN || error == EWOULDBLOCK) {
      // The peer is not reading: wait until it does, or until the time-out or a cancel, with
      // the event queue served meanwhile, rather than spinning with the window frozen.
      writable_ = false;
      write_notifier_.setEnabled(true);
      while (!writable_ && !canceled_) Pump(true);
      write_notifier_.setEnabled(false);
      continue;
    }
    CheckSocketError(error, kWouldBlock);
  }
}

void AsyncSocket::SendBuffer(std::string_view bytes, std::size_t length) {
  PostStatus(t::kLevelSocket, t::kSendingBuffer);
  TimerOn();
  ScopeExit timer_off([this] { TimerOff(); });
  if (!canceled_) {
    if (length == 0) {
      length = std::min(bytes.find('\0'), bytes.size());
    }
    SendAll(bytes.substr(0, length), false);
  }
  if (canceled_) {
    canceled_ = false;
    throw AbortError(t::kSendAborted);
  }
}

void AsyncSocket::Write(std::string_view text) {
  PostStatus(t::kLevelDetail, t::kWrite);
  // Sent whole, NUL bytes included, in pieces the size of the transfer buffer: a request body
  // must match the length announced for it.
  for (std::size_t at = 0; at < text.size(); at += kLineBufferSize) {
    const std::string_view piece = text.substr(at, kLineBufferSize);
    SendBuffer(piece, piece.size());
  }
}

void AsyncSocket::Writeln(std::string_view text) {
  PostStatus(t::kLevelDetail, t::kWriteln);
  std::string line(text);
  line += "\r\n";
  Write(line);
}

void AsyncSocket::SendFile(const std::string& file_name) {
  PostStatus(t::kLevelDetail, t::kSendFile);
  std::ifstream in(file_name, std::ios::binary);
  if (!in) throw HttpError(std::string(t::kCannotOpenFile) + file_name);
  while (!canceled_) {
    in.read(line_buffer_.data(), std::streamsize(kLineBufferSize));
    const auto got = std::size_t(in.gcount());
    if (got == 0) break;
    SendAll(std::string_view(line_buffer_.data(), got), true);
  }
  if (canceled_) {
    canceled_ = false;
    throw AbortError(t::kSendAborted);
  }
}

std::string AsyncSocket::ReadLn() {
  PostStatus(t::kLevelDetail, t::kReadLn);
  TimerOn();
  ScopeExit timer_off([this] { TimerOff(); });
  std::string line;
  while (!canceled_) {
    if (socket_ < 0) return {};
    const std::size_t room = kLineBufferSize - line.size();
    if (room == 0) throw SockError(t::kLineTooLong);
    const ssize_t seen = ::recv(socket_, line_buffer_.data(), room, MSG_PEEK | MSG_DONTWAIT);
    if (seen > 0) {
      const char* lf = static_cast<const char*>(std::memchr(line_buffer_.data(), '\n', seen));
      const std::size_t take = lf ? std::size_t(lf - line_buffer_.data()) + 1 : std::size_t(seen);
      const ssize_t got = ::recv(socket_, line_buffer_.data(), take, MSG_DONTWAIT);
      if (got > 0) line.append(line_buffer_.data(), std::size_t(got));
      if (lf != nullptr && got == ssize_t(take)) return line;
      Pump(false);
      continue;
    }
    if (seen == 0) return {};  // the peer closed before the line was complete
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) {
      WaitForReadable();
      continue;
    }
    if (error == EINTR) continue;
    if (error == ENOTCONN) return {};
    CheckSocketError(error, kWouldBlock);
  }
  canceled_ = false;
  throw AbortError(t::kReadlnAborted);
}

void AsyncSocket::Capture(std::int64_t limit, std::string_view abort_text,
                          const std::function<void(std::string_view)>& sink) {
  bytes_recvd_ = 0;
  TimerOn();
  ScopeExit timer_off([this] { TimerOff(); });
  for (;;) {
    if (canceled_) {
      canceled_ = false;
      throw AbortError(abort_text);
    }
    std::size_t want = kLineBufferSize;
    if (limit != -1) {
      if (bytes_recvd_ >= limit) return;
      want = std::min<std::size_t>(want, std::size_t(limit - bytes_recvd_));
    }
    if (socket_ < 0) return;
    const ssize_t n = ::recv(socket_, line_buffer_.data(), want, MSG_DONTWAIT);
    if (n == 0) return;  // the peer closed: the transfer is complete
    if (n > 0) {
      sink(std::string_view(line_buffer_.data(), std::size_t(n)));
      bytes_recvd_ += n;
      CallQuietly(on_packet_recvd_, *this);
      TimerOn();  // the time-out measures silence, not the whole transfer
      Pump(false);
      continue;
    }
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) {
      WaitForReadable();
    } else if (error == ENOTCONN) {
      return;
    } else if (error != EINTR) {
      CheckSocketError(error, kWouldBlock);
    }
  }
}

std::string AsyncSocket::CaptureString(std::int64_t limit) {
  PostStatus(t::kLevelDetail, t::kCaptureString);
  std::string result;
  Capture(limit, t::kCaptureAborted, [&result](std::string_view block) { result += block; });
  return result;
}

void AsyncSocket::CaptureFile(const std::string& file_name, std::int64_t limit) {
  PostStatus(t::kLevelDetail, t::kCaptureFile);
  std::ofstream out(file_name, std::ios::binary | std::ios::trunc);
  if (!out) throw HttpError(std::string(t::kCannotCreateFile) + file_name);
  Capture(limit, t::kSendAborted, [&out, &file_name](std::string_view block) {
    out.write(block.data(), std::streamsize(block.size()));
    if (!out) throw HttpError(std::string(t::kCannotWriteFile) + file_name);
  });
  out.close();
  if (!out) throw HttpError(std::string(t::kCannotWriteFile) + file_name);
}

std::string AsyncSocket::Transaction(std::string_view command) {
  PostStatus(t::kLevelDetail, t::kTransaction);
  reply_number_ = 0;
  Writeln(command);
  last_reply_ = ReadLn();
  if (!last_reply_.empty()) {
    PostStatus(t::kLevelReply, last_reply_);
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (digits < last_reply_.size() && digits < 10 && last_reply_[digits] >= '0' &&
           last_reply_[digits] <= '9') {
      value = value * 10 + (last_reply_[digits] - '0');
      ++digits;
    }
    // The reply number is a 16-bit quantity; a value beyond it is no reply number at all.
    reply_number_ = value <= 0xFFFF ? int(value) : 0;
  }
  return last_reply_;
}

}  // namespace tovrel::http
