#include "support/test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tovrel::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// The current environment with `changes` applied, as "NAME=value" strings.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& changes) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    auto eq = entry.find('=');
    if (eq != std::string_view::npos) vars[std::string(entry.substr(0, eq))] = std::string(entry);
  }
  for (const auto& change : changes) {
    auto eq = change.find('=');
    std::string name = change.substr(0, eq);
    if (eq == std::string::npos || eq + 1 == change.size()) {
      vars.erase(name);
    } else {
      vars[name] = change;
    }
  }
  std::vector<std::string> result;
  for (auto& [name, entry] : vars) result.push_back(std::move(entry));
  return result;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() {
    if (pipe2(fds, O_CLOEXEC) != 0) Fail("pipe");
  }
  ~Pipe() { CloseBoth(); }
  void Close(int end) {
    if (fds[end] >= 0) close(fds[end]);
    fds[end] = -1;
  }
  void CloseBoth() {
    Close(0);
    Close(1);
  }
};

// Starts argv with the given pipes as standard input/output/error (-1 keeps the test's own).
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int in_fd,
            int out_fd, int err_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in_fd >= 0) posix_spawn_file_actions_adddup2(&actions, in_fd, 0);
  if (out_fd >= 0) posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  if (err_fd >= 0) posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  // Each child leads its own process group so that stopping it also stops what it started.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  std::vector<std::string> args = argv;
  std::vector<std::string> vars = MergedEnvironment(env);
  auto c_args = CStrings(args);
  auto c_vars = CStrings(vars);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, c_args[0], &actions, &attr, c_args.data(), c_vars.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    errno = rc;
    Fail("cannot start " + argv.at(0));
  }
  return pid;
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Sends SIGTERM, waits up to `grace`, then SIGKILL; returns the decoded status.
int Terminate(pid_t pid, std::chrono::milliseconds grace) {
  kill(-pid, SIGTERM);
  kill(pid, SIGTERM);
  auto deadline = Clock::now() + grace;
  int status = 0;
  while (Clock::now() < deadline) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return DecodeStatus(status);
    if (r < 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  if (waitpid(pid, &status, 0) == pid) return DecodeStatus(status);
  return -1;
}

}  // namespace

std::string SourcePath(std::string_view relative) {
  return std::string(TOVREL_SOURCE_DIR) + "/" + std::string(relative);
}

std::string BuildPath(std::string_view relative) {
  return std::string(TOVREL_BUILD_DIR) + "/" + std::string(relative);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tovrel-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

int LoopbackSocket(int& port, int backlog, int family, int receive_buffer) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  const int on = 1;
  // A fixed port may still be held by the closed connections of an earlier run. A free one needs
  // no reuse, and must not be shared with a socket that asks for it.
  if (port != 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (receive_buffer > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  }
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (family == AF_INET6) {
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    v6.sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof v6;
  } else {
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    v4.sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof v4;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      (backlog >= 0 && ::listen(fd, backlog) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot bind on loopback port " + std::to_string(port));
  }
  port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                  : reinterpret_cast<sockaddr_in&>(address).sin_port);
  return fd;
}

int UnixSocket(const std::string& path, int backlog) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (backlog >= 0 && ::listen(fd, backlog) != 0)) {
    ::close(fd);
    throw std::runtime_error("cannot bind " + path);
  }
  return fd;
}

bool HasIpv6Loopback() {
  try {
    int port = 0;
    ::close(LoopbackSocket(port, -1, AF_INET6));
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

int RefusedPort() {
  int port = 0;
  ::close(LoopbackSocket(port, -1));
  return port;
}

UnansweredPort::UnansweredPort() {
  descriptors_.push_back(LoopbackSocket(port_, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port_));
  // Connects that complete fill the queue; the first that does not shows it is full.
  for (int i = 0; i < 8; ++i) {
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    descriptors_.push_back(filler);
    ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    pollfd entry{filler, POLLOUT, 0};
    if (::poll(&entry, 1, 300) == 0) return;
  }
  throw std::runtime_error("the listener's queue never filled");
}

UnansweredPort::~UnansweredPort() {
  for (const int fd : descriptors_) ::close(fd);
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string RandomBytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 engine(seed);
  std::string bytes(count, '\0');
  for (auto& b : bytes) b = static_cast<char>(engine() & 0xFF);
  return bytes;
}

FifoFeeder::FifoFeeder(std::string path, std::string bytes, std::size_t repeat)
    : thread_([path = std::move(path), bytes = std::move(bytes), repeat] {
        // A reader that leaves early makes write() fail with EPIPE instead of signalling.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        int fd = -1;
        for (int tries = 0; fd < 0 && tries < 1000; ++tries) {
          fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
          if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (fd < 0) return;
        ::fcntl(fd, F_SETFL, 0);
        for (std::size_t i = 0; i < repeat; ++i) {
          std::string_view rest = bytes;
          while (!rest.empty()) {
            const ssize_t n = ::write(fd, rest.data(), rest.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
              ::close(fd);
              return;
            }
            rest.remove_prefix(static_cast<std::size_t>(n));
          }
        }
        ::close(fd);
      }) {}

FifoFeeder::~FifoFeeder() { thread_.join(); }

ProcessResult RunProcess(const std::vector<std::string>& argv, std::string_view stdin_data,
                         const std::vector<std::string>& env, std::chrono::milliseconds timeout) {
  Pipe in, out, err;
  pid_t pid = Spawn(argv, env, in.fds[0], out.fds[1], err.fds[1]);
  in.Close(0);
  out.Close(1);
  err.Close(1);
  if (stdin_data.empty()) in.Close(1);

  ProcessResult result;
  std::size_t written = 0;
  auto deadline = Clock::now() + timeout;
  char buffer[65536];
  while (out.fds[0] >= 0 || err.fds[0] >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      break;
    }
    pollfd fds[3] = {{out.fds[0], POLLIN, 0}, {err.fds[0], POLLIN, 0}, {in.fds[1], POLLOUT, 0}};
    if (poll(fds, 3, static_cast<int>(std::min<long long>(left.count(), 1000))) < 0) {
      if (errno == EINTR) continue;
      Fail("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        (i == 0 ? out : err).Close(0);
      }
    }
    if (fds[2].fd >= 0 && fds[2].revents != 0) {
      ssize_t n = write(in.fds[1], stdin_data.data() + written,
                        std::min<std::size_t>(stdin_data.size() - written, 65536));
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 && errno != EINTR && errno != EAGAIN) in.Close(1);
      if (written == stdin_data.size()) in.Close(1);
    }
  }
  in.CloseBoth();
  if (result.timed_out) {
    result.exit_status = Terminate(pid, std::chrono::milliseconds(0));
  } else {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_status = DecodeStatus(status);
  }
  return result;
}

ProcessResult RunPython(std::string_view code, const std::vector<std::string>& args,
                        std::string_view stdin_data) {
  std::vector<std::string> argv = {kPython, "-c", std::string(code)};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, stdin_data);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env) {
  Pipe out;
  pid_ = Spawn(argv, env, -1, out.fds[1], -1);
  out.Close(1);
  stdout_fd_ = out.fds[0];
  out.fds[0] = -1;
}

ChildProcess::~ChildProcess() {
  Stop();
  if (stdout_fd_ >= 0) close(stdout_fd_);
}

std::string ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    auto eol = pending_.find('\n');
    if (eol != std::string::npos) {
      std::string line = pending_.substr(0, eol);
      pending_.erase(0, eol + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) throw std::runtime_error("no line from child process in time");
    pollfd fd = {stdout_fd_, POLLIN, 0};
    int r = poll(&fd, 1, static_cast<int>(left.count()));
    if (r < 0 && errno != EINTR) Fail("poll");
    if (r <= 0) continue;
    char buffer[4096];
    ssize_t n = read(stdout_fd_, buffer, sizeof buffer);
    if (n == 0) throw std::runtime_error("child process closed its output");
    if (n > 0) pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

int ChildProcess::Stop() {
  if (pid_ > 0) {
    status_ = Terminate(pid_, std::chrono::seconds(5));
    pid_ = -1;
  }
  return status_;
}

AiosmtpdServer::AiosmtpdServer() : AiosmtpdServer(Options{}) {}

AiosmtpdServer::AiosmtpdServer(Options options) {
  std::vector<std::string> argv = {kPython, SourcePath("scripts/test_smtp_server.py"), "--dir",
                                   dir_.path()};
  if (!options.user.empty()) {
    argv.insert(argv.end(), {"--user", options.user, "--password", options.password});
  }
  if (!options.tls.empty()) {
    argv.insert(argv.end(), {"--tls", options.tls, "--cert", options.cert, "--key", options.key});
  }
  if (!options.only_mechanism.empty()) argv.insert(argv.end(), {"--only", options.only_mechanism});
  if (options.size_limit > 0)
    argv.insert(argv.end(), {"--size", std::to_string(options.size_limit)});
  if (options.smtputf8) argv.push_back("--smtputf8");
  if (options.greylist_once) argv.push_back("--greylist-once");
  if (options.pipelining) argv.push_back("--pipelining");
  if (options.data_delay_seconds > 0) {
    argv.insert(argv.end(), {"--data-delay", std::to_string(options.data_delay_seconds)});
  }
  argv.insert(argv.end(), {"--host", options.host, "--log", dir_.File("commands.log")});
  process_ = std::make_unique<ChildProcess>(argv);
  port_ = std::stoi(process_->ReadLine());
}

AiosmtpdServer::~AiosmtpdServer() = default;

std::vector<std::string> AiosmtpdServer::Commands() const {
  std::vector<std::string> verbs;
  std::error_code error;
  if (!fs::exists(dir_.File("commands.log"), error)) return verbs;
  std::istringstream lines(ReadFile(dir_.File("commands.log")));
  for (std::string line; std::getline(lines, line);) verbs.push_back(line);
  return verbs;
}

std::vector<ReceivedMail> AiosmtpdServer::Messages() const {
  std::vector<std::string> envelopes;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    if (entry.path().extension() == ".env") envelopes.push_back(entry.path().string());
  }
  std::sort(envelopes.begin(), envelopes.end());
  std::vector<ReceivedMail> mails;
  for (const auto& envelope : envelopes) {
    ReceivedMail mail;
    std::istringstream lines(ReadFile(envelope));
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("from ", 0) == 0) mail.mail_from = line.substr(5);
      if (line.rfind("to ", 0) == 0) mail.rcpt_tos.push_back(line.substr(3));
      if (line.rfind("auth ", 0) == 0) mail.auth_user = line.substr(5);
    }
    mail.data_path = envelope.substr(0, envelope.size() - 4) + ".eml";
    mail.data = ReadFile(mail.data_path);
    mails.push_back(std::move(mail));
  }
  return mails;
}

std::vector<ReceivedMail> AiosmtpdServer::WaitForMessages(std::size_t count,
                                                          std::chrono::milliseconds timeout) const {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    auto mails = Messages();
    if (mails.size() >= count) return mails;
    if (Clock::now() >= deadline) {
      throw std::runtime_error("the SMTP server received " + std::to_string(mails.size()) +
                               " messages, expected " + std::to_string(count));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

OwnTempFolder::OwnTempFolder(std::string_view program) {
  const char* env = std::getenv("TMPDIR");
  std::string pattern = std::string(env != nullptr && *env != '\0' ? env : "/tmp") + "/" +
                        std::string(program) + "-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) {
    path_ = pattern;
    ::setenv("TMPDIR", path_.c_str(), 1);
  }
}

OwnTempFolder::~OwnTempFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::set<std::string> SpoolFiles() {
  const char* env = std::getenv("TMPDIR");
  const std::string folder = env != nullptr && *env != '\0' ? env : "/tmp";
  std::set<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (std::string(entry->d_name).rfind("Tov", 0) == 0) names.insert(entry->d_name);
    }
    ::closedir(dir);
  }
  return names;
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return count;
}

}  // namespace tovrel::test
