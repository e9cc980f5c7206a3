#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "http/host_lookup.h"
#include "http/peer_address.h"
#include "http/thread_timer.h"

namespace tovrel::http {

// A TCP client whose every wait (name lookup, connect, reading a line, reading until the peer
// closes) keeps the calling thread's event queue served, so a window stays responsive while it
// waits. The socket is non-blocking; its readiness comes from socket notifiers, host names are
// resolved off the thread, and a timer bounds each wait. A name may stand for several addresses,
// IPv6 and IPv4: Connect tries them in the resolver's order until one answers. Everything runs on
// the owning thread: there are no locks, and re-entrancy (events running in the middle of an
// operation) is the hazard a caller must keep in mind.
class AsyncSocket : public QObject {
 public:
  using NotifyEvent = std::function<void(AsyncSocket& sender)>;
  using HandlerEvent = std::function<void(AsyncSocket& sender, bool& handled)>;
  using TextEvent = std::function<void(AsyncSocket& sender, const std::string& text)>;

  // Size of the transfer buffer: the longest line ReadLn takes and the largest single receive.
  static constexpr std::size_t kLineBufferSize = 65536;

  explicit AsyncSocket(QObject* owner = nullptr);
  ~AsyncSocket() override;

  const std::string& host() const { return host_; }
  void set_host(std::string host) { host_ = std::move(host); }
  int port() const { return port_; }
  void set_port(int port) { port_ = port; }
  // Milliseconds each wait may last; 0 waits without limit.
  int time_out() const { return time_out_; }
  void set_time_out(int milliseconds) { time_out_ = milliseconds; }
  int report_level() const { return report_level_; }
  void set_report_level(int level) { report_level_ = level; }
  const std::string& proxy() const { return proxy_; }
  void set_proxy(std::string proxy) { proxy_ = std::move(proxy); }
  int proxy_port() const { return proxy_port_; }
  void set_proxy_port(int port) { proxy_port_ = port; }

  void set_on_connect(NotifyEvent handler) { on_connect_ = std::move(handler); }
  void set_on_disconnect(NotifyEvent handler) { on_disconnect_ = std::move(handler); }
  void set_on_connection_failed(NotifyEvent handler) { on_connection_failed_ = std::move(handler); }
  // Called once when the host could not be resolved; setting `handled` asks for one more try
  // (the handler may have changed the host).
  void set_on_invalid_host(HandlerEvent handler) { on_invalid_host_ = std::move(handler); }
  void set_on_host_resolved(NotifyEvent handler) { on_host_resolved_ = std::move(handler); }
  void set_on_status(TextEvent handler) { on_status_ = std::move(handler); }
  void set_on_packet_recvd(NotifyEvent handler) { on_packet_recvd_ = std::move(handler); }
  void set_on_packet_sent(NotifyEvent handler) { on_packet_sent_ = std::move(handler); }
  void set_on_data_ready(NotifyEvent handler) { on_data_ready_ = std::move(handler); }
  void set_on_socket_error(TextEvent handler) { on_socket_error_ = std::move(handler); }
  // Takes the place of the system resolver for names that are not numeric addresses; it runs
  // off the owning thread. An empty function restores the system resolver.
  void set_resolver(HostLookup::Resolver resolver) { lookup_.set_resolver(std::move(resolver)); }

  bool connected() const { return connected_; }
  bool canceled() const { return canceled_; }
  bool timed_out() const { return timed_out_; }
  // The address, port included, of the connection or of the last connect attempt; empty before
  // the first attempt and after a failed lookup.
  const PeerAddress& remote_address() const { return remote_address_; }
  const std::string& status_text() const { return status_text_; }
  int last_error_no() const { return last_error_no_; }
  std::int64_t bytes_sent() const { return bytes_sent_; }
  std::int64_t bytes_recvd() const { return bytes_recvd_; }
  const std::string& last_reply() const { return last_reply_; }
  int reply_number() const { return reply_number_; }

  // Resolves the host (or the proxy) and connects to the first of its addresses that answers;
  // raises SockError when none does, with the failure of the last one.
  virtual void Connect();
  virtual void Disconnect();
  // Asks the running wait to stop; the operation then raises.
  void Cancel();
  virtual void Abort();

  void Write(std::string_view text);
  void Writeln(std::string_view text);
  // Sends `length` bytes of `bytes`; a length of 0 sends up to the first NUL.
  void SendBuffer(std::string_view bytes, std::size_t length);
  void SendFile(const std::string& file_name);
  // One line with its line ending; empty when the peer closed before a whole line came.
  std::string ReadLn();
  // Everything until the peer closes, or until `limit` bytes (-1: no limit).
  std::string CaptureString(std::int64_t limit = -1);
  // Like CaptureString, into a file; with a limit, stops once the file holds that many bytes.
  void CaptureFile(const std::string& file_name, std::int64_t limit = -1);
  // Writes a command line and returns the reply line.
  virtual std::string Transaction(std::string_view command);

  // Whether received bytes are waiting to be read.
  bool DataAvailable();
  // "10061:Connection refused" and the like.
  std::string ErrorText(int number);

 protected:
  void PostStatus(int level, std::string_view text);
  void set_async_done(bool done) { async_done_ = done; }
  void set_reply_number(int number) { reply_number_ = number; }

 private:
  // How one connect attempt ended.
  enum class Attempt { kConnected, kNoSocket, kSocketError, kTimedOut, kCanceled, kFailed };

  void OpenSocket(int family);
  // Closes the socket without any event: it never carried a connection.
  void DropSocket();
  void CloseSocket();
  Attempt TryConnect(const PeerAddress& peer);
  void ResolveHost();
  void TimerOn();
  void TimerOff();
  void TimerFired();
  // Raises SockError for the given errno unless it maps to `ignored`.
  void CheckSocketError(int system_errno, int ignored);
  // Serves the event queue; with `wait`, sleeps in it until something (a socket notification,
  // the time-out, a posted lookup answer, user input) arrives.
  void Pump(bool wait);
  void WaitForReadable();
  // Sends all of `data` unless cancelled; with `account`, counts, notifies and pumps per part.
  void SendAll(std::string_view data, bool account);
  // Receives until the peer closes or `limit` bytes came, handing each block to `sink`.
  void Capture(std::int64_t limit, std::string_view abort_text,
               const std::function<void(std::string_view)>& sink);
  void OnReadable();
  void OnWritable();

  std::string host_;
  int port_ = 0;
  int time_out_ = 0;
  int report_level_ = 0;
  std::string proxy_;
  int proxy_port_ = 0;

  NotifyEvent on_connect_;
  NotifyEvent on_disconnect_;
  NotifyEvent on_connection_failed_;
  HandlerEvent on_invalid_host_;
  NotifyEvent on_host_resolved_;
  TextEvent on_status_;
  NotifyEvent on_packet_recvd_;
  NotifyEvent on_packet_sent_;
  NotifyEvent on_data_ready_;
  TextEvent on_socket_error_;

  std::vector<char> line_buffer_;
  int socket_ = -1;
  QSocketNotifier read_notifier_{QSocketNotifier::Read};
  QSocketNotifier write_notifier_{QSocketNotifier::Write};
  ThreadTimer timer_;
  HostLookup lookup_{this};
  unsigned lookup_serial_ = 0;
  LookupResult lookup_result_;
  std::vector<PeerAddress> addresses_;

  bool canceled_ = false;
  bool timed_out_ = false;
  bool succeeded_ = false;
  bool async_done_ = false;
  bool connected_ = false;
  bool connecting_ = false;
  bool writable_ = false;
  bool destroying_ = false;

  PeerAddress remote_address_;
  std::string status_text_;
  int last_error_no_ = 0;
  std::int64_t bytes_sent_ = 0;
  std::int64_t bytes_recvd_ = 0;
  std::string last_reply_;
  int reply_number_ = 0;
};

}  // namespace tovrel::http
