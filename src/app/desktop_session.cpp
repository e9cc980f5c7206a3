#include "app/desktop_session.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace tovrel::app {

namespace {

// A display that takes the connection but never finishes it is given up after this long.
constexpr int kConnectWaitSeconds = 2;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

class Socket {
 public:
  explicit Socket(int family) : fd_(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const timeval wait{.tv_sec = kConnectWaitSeconds, .tv_usec = 0};
    if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  }
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  bool Connect(const sockaddr* address, socklen_t length) const {
    return fd_ >= 0 && ::connect(fd_, address, length) == 0;
  }

 private:
  int fd_;
};

// `abstract`: in the abstract name space, as X servers on Linux listen besides the file.
bool UnixAnswers(const std::string& path, bool abstract = false) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  if (path.empty() || path.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                             path.size() + (abstract ? 0 : 1));
  return Socket(AF_UNIX).Connect(reinterpret_cast<const sockaddr*>(&address), length);
}

bool TcpAnswers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool answered = false;
  for (const addrinfo* each = found; each != nullptr && !answered; each = each->ai_next) {
    answered = Socket(each->ai_family).Connect(each->ai_addr, each->ai_addrlen);
  }
  ::freeaddrinfo(found);
  return answered;
}

// "[host]:number[.screen]"; no host (or "unix") is the local socket of that number.
bool XDisplayAnswers(const std::string& display) {
  const std::size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
      number.size() > 4) {
    return false;
  }
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + number;
    return UnixAnswers(path, true) || UnixAnswers(path);
  }
  if (host.front() == '/') return UnixAnswers(display);
  return TcpAnswers(host, 6000 + std::stoi(number));
}

bool WaylandAnswers(const std::string& name) {
  if (name.front() == '/') return UnixAnswers(name);
  const std::string folder = Env("XDG_RUNTIME_DIR");
  return !folder.empty() && UnixAnswers(folder + "/" + name);
}

}  // namespace

bool DisplayAnswers() {
  // A platform of the toolkit's that draws without a display server (offscreen, a frame
  // buffer) needs none to answer.
  const std::string platform = Env("QT_QPA_PLATFORM");
  if (!platform.empty() && !platform.starts_with("xcb") && !platform.starts_with("wayland")) {
    return true;
  }
  const std::string x_display = Env("DISPLAY");
  const std::string wayland_display = Env("WAYLAND_DISPLAY");
  const bool x_answers = !x_display.empty() && XDisplayAnswers(x_display);
  const bool wayland_answers = !wayland_display.empty() && WaylandAnswers(wayland_display);
  if (x_answers != wayland_answers && platform.empty()) {
    ::setenv("QT_QPA_PLATFORM", x_answers ? "xcb" : "wayland", 1);
  }
  return x_answers || wayland_answers;
}

void SettleSessionBus() {
  if (!Env("DBUS_SESSION_BUS_ADDRESS").empty()) return;
  const std::string folder = Env("XDG_RUNTIME_DIR");
  // Where nothing answers, connecting there fails at once.
  const std::string path = (folder.empty() ? std::string("/nonexistent") : folder) + "/bus";
  ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
}

bool SessionBusMayAnswer() {
  const std::string address = Env("DBUS_SESSION_BUS_ADDRESS");
  constexpr std::string_view kPath = "unix:path=";
  if (!address.starts_with(kPath)) return !address.empty();  // abstract, tcp: only a try tells
  const std::string path = address.substr(kPath.size(), address.find(',') - kPath.size());
  return ::access(path.c_str(), F_OK) == 0;
}

}  // namespace tovrel::app
