#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "support/test_support.h"

namespace tovrel::test {

namespace {

constexpr int kReadPatienceMs = 30000;
// How often a server that serves until stopped looks at its stop flag.
constexpr int kPollMs = 20;
// A hold that nobody releases ends after this.
constexpr auto kLongestHold = std::chrono::seconds(20);

}  // namespace

Peer::~Peer() {
  if (fd_ >= 0) ::close(fd_);
}

bool Peer::Fill() {
  pollfd entry{fd_, POLLIN, 0};
  if (control_ == nullptr) {
    if (::poll(&entry, 1, kReadPatienceMs) <= 0) {
      throw std::runtime_error("client sent nothing in time");
    }
  } else {
    if (in_message_) {
      const auto hold_ends = ServerControl::Clock::now() + kLongestHold;
      while (control_->held && !control_->stop) {
        control_->holding = true;
        if (ServerControl::Clock::now() > hold_ends) control_->held = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      }
      control_->holding = false;
    }
    while (::poll(&entry, 1, kPollMs) <= 0) {
      if (control_->stop) throw std::runtime_error("server stopped");
    }
  }
  char area[65536];
  ssize_t n = ::recv(fd_, area, sizeof area, 0);
  if (n < 0 && errno == ECONNRESET) return false;
  if (n < 0) throw std::runtime_error("receive failed");
  if (n == 0) return false;
  if (control_ != nullptr) {
    std::lock_guard lock(control_->mutex);
    if (control_->first_byte_at == ServerControl::Clock::time_point{}) {
      control_->first_byte_at = ServerControl::Clock::now();
    }
  }
  received_.append(area, static_cast<size_t>(n));
  pending_.append(area, static_cast<size_t>(n));
  return true;
}

std::string Peer::ReadLine() {
  std::string line = ReadUntil("\n");
  line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string Peer::ReadUntil(std::string_view marker) {
  size_t at;
  size_t from = 0;
  while ((at = pending_.find(marker, from)) == std::string::npos) {
    from = pending_.size() >= marker.size() ? pending_.size() - marker.size() + 1 : 0;
    if (!Fill()) throw std::runtime_error("client closed before the expected text");
  }
  std::string text = pending_.substr(0, at + marker.size());
  pending_.erase(0, at + marker.size());
  return text;
}

std::string Peer::ReadExactly(size_t count) {
  while (pending_.size() < count) {
    if (!Fill()) throw std::runtime_error("client closed before enough bytes arrived");
  }
  std::string bytes = pending_.substr(0, count);
  pending_.erase(0, count);
  return bytes;
}

void Peer::ReadMessage() {
  pending_.insert(0, "\r\n");  // the text starts at the beginning of a line
  in_message_ = true;
  try {
    ReadUntil("\r\n.\r\n");
  } catch (...) {
    in_message_ = false;
    throw;
  }
  in_message_ = false;
}

std::string Peer::ReadAll() {
  while (Fill()) {
  }
  std::string all = std::move(pending_);
  pending_.clear();
  return all;
}

bool Peer::ClientClosed(std::chrono::milliseconds wait) {
  pollfd entry{fd_, POLLIN, 0};
  if (::poll(&entry, 1, static_cast<int>(wait.count())) <= 0) return false;
  char byte;
  ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

void Peer::Send(std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("send to client failed");
    done += static_cast<size_t>(n);
  }
}

void Peer::SendInPieces(std::string_view bytes) {
  int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  for (char c : bytes) {
    Send(std::string_view(&c, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void Peer::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Peer::Reset() {
  linger option{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  Close();
}

void Peer::SetReceiveBuffer(int bytes) {
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

LoopbackServer::LoopbackServer(std::vector<Session> sessions, int port) {
  listen_fd_ = test::LoopbackSocket(port, 8);
  port_ = port;
  received_.resize(sessions.size());
  errors_.resize(sessions.size());
  thread_ = std::thread(&LoopbackServer::Run, this, std::move(sessions));
}

LoopbackServer::LoopbackServer(Session session, UntilStopped options) {
  listen_fd_ = test::LoopbackSocket(port_, 4, AF_INET, options.receive_buffer);
  thread_ = std::thread(&LoopbackServer::RunUntilStopped, this, std::move(session));
}

LoopbackServer::~LoopbackServer() {
  if (!joined_) Join();
}

void LoopbackServer::Run(std::vector<Session> sessions) {
  for (size_t i = 0; i < sessions.size(); ++i) {
    pollfd entry{listen_fd_, POLLIN, 0};
    if (::poll(&entry, 1, kReadPatienceMs) <= 0) {
      errors_[i] = "no client connected";
      return;
    }
    Peer peer(::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC));
    try {
      sessions[i](peer);
    } catch (const std::exception& error) {
      errors_[i] = error.what();
    }
    received_[i] = peer.received();
  }
}

void LoopbackServer::RunUntilStopped(Session session) {
  while (!control_.stop) {
    pollfd entry{listen_fd_, POLLIN, 0};
    if (::poll(&entry, 1, kPollMs) <= 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    {
      Peer peer(fd, &control_);
      try {
        session(peer);
      } catch (const std::exception&) {
      }
    }
    ++ended_;
  }
}

ServerControl::Clock::time_point LoopbackServer::first_byte_at() {
  std::lock_guard lock(control_.mutex);
  return control_.first_byte_at;
}

std::vector<std::string> LoopbackServer::Join() {
  if (!joined_) {
    control_.stop = true;
    thread_.join();
    ::close(listen_fd_);
    joined_ = true;
    for (size_t i = 0; i < errors_.size(); ++i) {
      if (!errors_[i].empty()) ADD_FAILURE() << "server session " << i << ": " << errors_[i];
    }
  }
  return received_;
}

LoopbackServer::Session SmtpScript(std::vector<std::string> replies, bool in_pieces) {
  return [replies = std::move(replies), in_pieces](Peer& peer) {
    bool data_follows = false;
    for (size_t i = 0; i < replies.size(); ++i) {
      const std::string& reply = replies[i];
      const bool group = reply.rfind("<group>", 0) == 0;
      if (i > 0) {
        if (data_follows && reply == "<stall>") {
          // Read nothing more once the message has begun: the client's writes back up until it
          // gives up. The pause counts from the first message byte, so a client that takes long
          // to prepare its first write (a large attachment in a slow build) is still stalled.
          peer.ReadExactly(1);
          std::this_thread::sleep_for(std::chrono::seconds(2));
          return;
        }
        if (data_follows && reply == "<reset>") {
          peer.ReadExactly(1);
          peer.Reset();
          return;
        }
        if (data_follows) {
          while (peer.ReadLine() != ".") {
          }
        } else {
          group ? peer.ReadUntil("Data\r\n") : peer.ReadLine();
        }
      }
      data_follows = reply.rfind("354", 0) == 0 || (group && reply.find("\n354") != reply.npos);
      if (reply == "<close>") {
        peer.Close();
        return;
      }
      if (reply == "<reset>") {
        peer.Reset();
        return;
      }
      if (reply == "<silent>") {
        peer.ReadAll();
        return;
      }
      std::string bytes = reply.rfind("<raw>", 0) == 0 ? reply.substr(5)
                          : group                      ? reply.substr(7) + "\r\n"
                                                       : reply + "\r\n";
      if (in_pieces) {
        peer.SendInPieces(bytes);
      } else {
        peer.Send(bytes);
      }
    }
    peer.ReadAll();
  };
}

}  // namespace tovrel::test
