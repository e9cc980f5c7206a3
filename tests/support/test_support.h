#pragma once

// Shared helpers of the test programs: temporary folders, files, child processes stopped by
// process id, and a real SMTP server (aiosmtpd) on a free loopback port.

#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tovrel::test {

// Interpreter that sees Debian's Python packages (aiosmtpd); the one first on PATH may not.
inline constexpr const char* kPython = "/usr/bin/python3";

// A host name no resolver can look up: its first label is longer than the 63 characters a name
// may have, so the lookup fails at once, without asking any name server (tests stay on loopback).
inline const std::string kUnresolvableHost = std::string(64, 'x') + ".invalid";

std::string SourcePath(std::string_view relative);  // inside the source tree
std::string BuildPath(std::string_view relative);   // inside the build tree of this test program

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// A loopback port that was free a moment ago (bound once to learn its number, then released):
// connecting to it is refused.
int RefusedPort();

// A loopback port nobody answers: its listener never accepts and its queue is full, so that a
// further connect hears nothing until it gives up. Closed on destruction.
class UnansweredPort {
 public:
  UnansweredPort();
  ~UnansweredPort();
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;

  int port() const { return port_; }

 private:
  std::vector<int> descriptors_;
  int port_ = 0;
};

std::string ReadFile(const std::string& path);  // throws std::runtime_error when unreadable
void WriteFile(const std::string& path, std::string_view bytes);
std::string RandomBytes(std::size_t count, std::uint32_t seed);  // same seed, same bytes
std::string ToHex(std::string_view bytes);  // lower-case, as Python's bytes.hex() prints
std::string FromHex(std::string_view hex);  // the bytes of pairs of hex digits

// A stream socket bound to the loopback address of `family` (127.0.0.1 or ::1, IPv6 only) and
// `port` (0: a free one, which `port` then receives), listening with `backlog` unless that is
// negative. A receive buffer set here is what the connections it accepts start with. Throws
// std::runtime_error when the address cannot be bound.
int LoopbackSocket(int& port, int backlog, int family = AF_INET, int receive_buffer = 0);
// A stream socket bound to the file system name `path`, listening with `backlog` unless that is
// negative.
int UnixSocket(const std::string& path, int backlog);
// Whether the machine has the IPv6 loopback address; containers often go without it.
bool HasIpv6Loopback();

// The writer of a FIFO: a thread of its own writes `bytes` `repeat` times into the FIFO at `path`
// once a reader has opened it (it gives up after ten seconds without one), and stops early when
// the reader closes its end. Waits for the thread on destruction.
class FifoFeeder {
 public:
  FifoFeeder(std::string path, std::string bytes, std::size_t repeat = 1);
  ~FifoFeeder();
  FifoFeeder(const FifoFeeder&) = delete;
  FifoFeeder& operator=(const FifoFeeder&) = delete;

 private:
  std::thread thread_;
};

struct ProcessResult {
  int exit_status = -1;  // exit code, or 128 + signal number
  std::string out;
  std::string err;
  bool timed_out = false;
};

// Runs a program to its end. `env` entries ("NAME=value") are added to, or replace, the
// current environment; an entry "NAME=" with no value removes NAME. The process is killed
// when `timeout` passes.
ProcessResult RunProcess(const std::vector<std::string>& argv, std::string_view stdin_data = {},
                         const std::vector<std::string>& env = {},
                         std::chrono::milliseconds timeout = std::chrono::minutes(2));

// Runs `code` with kPython; `args` become sys.argv[1:].
ProcessResult RunPython(std::string_view code, const std::vector<std::string>& args = {},
                        std::string_view stdin_data = {});

// A background process (a server). Its standard output is a pipe read by ReadLine; its
// standard error goes to the test's. Stopped by process id (SIGTERM, then SIGKILL) on Stop
// or destruction.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& env = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // The next line of standard output without its line end; throws on end of file or time-out.
  std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Ends the process and returns its status as ProcessResult::exit_status does. Idempotent.
  int Stop();

 private:
  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  int status_ = -1;
  std::string pending_;
};

// One message as the SMTP server stored it.
struct ReceivedMail {
  std::string mail_from;
  std::vector<std::string> rcpt_tos;
  std::string auth_user;  // empty when the client did not authenticate
  std::string data;       // the message bytes after dot-unstuffing, lines ending in CR LF
  std::string data_path;  // a file holding `data`, for Python's email parser
};

// A real SMTP server (Debian's aiosmtpd) on 127.0.0.1 and a free port. With a user name it
// offers AUTH LOGIN and refuses mail until the client authenticates with that name and password.
class AiosmtpdServer {
 public:
  struct Options {
    std::string user{};
    std::string password{};
    // With a certificate and key: "starttls" or "implicit".
    std::string tls{};
    std::string cert{};
    std::string key{};
    // "LOGIN" or "PLAIN" to offer only that mechanism; empty offers both.
    std::string only_mechanism{};
    std::string host = "127.0.0.1";
    // The SIZE limit announced (0: none), and whether SMTPUTF8 is offered.
    long size_limit = 0;
    bool smtputf8 = false;
    // greylisted@... refused (450) only the first time; the end of each message answered late.
    bool greylist_once = false;
    double data_delay_seconds = 0;
    bool pipelining = false;  // listed in the EHLO reply
  };
  AiosmtpdServer();
  explicit AiosmtpdServer(Options options);
  ~AiosmtpdServer();

  int port() const { return port_; }
  const std::string& mail_dir() const { return dir_.path(); }
  // Waits until at least `count` messages have arrived (throws after `timeout`) and returns all
  // of them in arrival order.
  std::vector<ReceivedMail> WaitForMessages(
      std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
  std::vector<ReceivedMail> Messages() const;  // what has arrived so far
  // The verbs of the AUTH, MAIL, RCPT and DATA commands that reached the server, in order.
  std::vector<std::string> Commands() const;

 private:
  TempDir dir_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

// Spool files go to $TMPDIR, which other test programs running at the same time share: a test
// program makes a folder of its own there for its whole run (before anything reads TMPDIR), so
// that SpoolFiles() sees only the files of its own sends.
class OwnTempFolder {
 public:
  explicit OwnTempFolder(std::string_view program);
  ~OwnTempFolder();
  OwnTempFolder(const OwnTempFolder&) = delete;
  OwnTempFolder& operator=(const OwnTempFolder&) = delete;

 private:
  std::string path_;
};

// The names of the writer's spool files now in $TMPDIR.
std::set<std::string> SpoolFiles();

// The number of descriptors this process has open.
int OpenDescriptors();

}  // namespace tovrel::test
