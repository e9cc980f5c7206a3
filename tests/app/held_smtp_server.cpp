#include "held_smtp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "support/test_support.h"

namespace tovrel::test {

namespace {

// Small, so that what the client writes while the server holds stays in the client's buffers
// and shows there as a send that does not move on.
constexpr int kReceiveBuffer = 64 * 1024;
// How often a waiting loop looks at the stop flag.
constexpr int kPollMs = 20;
// A hold that nobody releases (a window that is not served while it sends, so the test never
// gets to act) ends after this, so that the test fails instead of hanging.
constexpr auto kLongestHold = std::chrono::seconds(20);

// Ends a session: the client went away, or the server stops.
struct SessionOver {};

class Session {
 public:
  // `arrived` is called after every receive.
  Session(int fd, const std::atomic<bool>& stop, std::function<void()> arrived)
      : fd_(fd), stop_(stop), arrived_(std::move(arrived)) {}
  ~Session() { ::close(fd_); }

  void Send(std::string_view text) {
    while (!text.empty()) {
      const ssize_t n = ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
      if (n <= 0) throw SessionOver{};
      text.remove_prefix(static_cast<size_t>(n));
    }
  }
  // Reads what is there into the pending bytes; waits for something first.
  void Fill() {
    for (;;) {
      if (stop_) throw SessionOver{};
      pollfd entry{fd_, POLLIN, 0};
      if (::poll(&entry, 1, kPollMs) > 0) break;
    }
    char area[16384];
    const ssize_t n = ::recv(fd_, area, sizeof area, 0);
    if (n <= 0) throw SessionOver{};
    arrived_();
    pending_.append(area, static_cast<size_t>(n));
  }
  std::string ReadLine() {
    size_t end;
    while ((end = pending_.find("\r\n")) == std::string::npos) Fill();
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 2);
    return line;
  }
  // The message text up to its final "."; reads nothing while `held` says so (clearing it when
  // the hold lasts too long).
  void ReadMessage(std::atomic<bool>& held) {
    size_t end;
    size_t from = 0;
    pending_.insert(0, "\r\n");  // the text starts at the beginning of a line
    while ((end = pending_.find("\r\n.\r\n", from)) == std::string::npos) {
      from = pending_.size() >= 4 ? pending_.size() - 4 : 0;
      const auto hold_ends = std::chrono::steady_clock::now() + kLongestHold;
      while (held && !stop_) {
        if (std::chrono::steady_clock::now() > hold_ends) held = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      }
      Fill();
    }
    pending_.erase(0, end + 5);
  }

 private:
  int fd_;
  const std::atomic<bool>& stop_;
  std::function<void()> arrived_;
  std::string pending_;
};

std::string Verb(const std::string& line) {
  std::string verb = line.substr(0, line.find(' '));
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

}  // namespace

HeldSmtpServer::HeldSmtpServer() {
  listen_fd_ = test::LoopbackSocket(port_, 4, AF_INET, kReceiveBuffer);
  thread_ = std::thread(&HeldSmtpServer::Run, this);
}

HeldSmtpServer::~HeldSmtpServer() {
  stop_ = true;
  thread_.join();
  ::close(listen_fd_);
}

HeldSmtpServer::Clock::time_point HeldSmtpServer::first_byte_at() const {
  std::lock_guard lock(mutex_);
  return first_byte_at_;
}

void HeldSmtpServer::Run() {
  while (!stop_) {
    pollfd entry{listen_fd_, POLLIN, 0};
    if (::poll(&entry, 1, kPollMs) <= 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    Serve(fd);
    in_message_ = false;
    ++ended_;
  }
}

void HeldSmtpServer::Serve(int fd) {
  Session session(fd, stop_, [this] {
    std::lock_guard lock(mutex_);
    if (first_byte_at_ == Clock::time_point{}) first_byte_at_ = Clock::now();
  });
  try {
    session.Send("220 held.test ESMTP\r\n");
    for (;;) {
      const std::string line = session.ReadLine();
      const std::string verb = Verb(line);
      if (verb == "EHLO") {
        session.Send("250-held.test\r\n250 8BITMIME\r\n");
      } else if (verb == "DATA") {
        session.Send("354 go ahead\r\n");
        in_message_ = true;
        try {
          session.ReadMessage(held_);
        } catch (const SessionOver&) {
          ++cut_off_;
          throw;
        }
        in_message_ = false;
        ++messages_;
        session.Send("250 accepted\r\n");
      } else if (verb == "QUIT") {
        session.Send("221 bye\r\n");
        return;
      } else {
        session.Send("250 OK\r\n");
      }
    }
  } catch (const SessionOver&) {
  }
}

}  // namespace tovrel::test
