#include "app/oauth_token.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <utility>

#include "app/service_calls.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/string_helpers.h"
#include "net/gui_pump.h"
#include "net/wait_limit.h"

extern char** environ;

namespace tovrel::app {

namespace {

// A descriptor closed with its owner.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  void Close() { *this = Descriptor(); }

 private:
  int fd_ = -1;
};

// The command's shell leads a process group of its own, and whatever it started belongs to that
// group: at the limit, or when the send is cancelled, the whole group ends, not just the shell.
class CommandGroup {
 public:
  explicit CommandGroup(pid_t leader) : leader_(leader) {}
  CommandGroup(const CommandGroup&) = delete;
  CommandGroup& operator=(const CommandGroup&) = delete;
  ~CommandGroup() {
    if (leader_ <= 0) return;
    ::kill(-leader_, SIGKILL);
    while (::waitpid(leader_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  // The shell's wait status once it has ended.
  std::optional<int> Ended() {
    int status = 0;
    if (::waitpid(leader_, &status, WNOHANG) != leader_) return std::nullopt;
    leader_ = 0;
    return status;
  }

 private:
  pid_t leader_;
};

// What a stream of the command gave: its first line, at most `limit` bytes of it kept; the
// rest is read and dropped, so that the command is never stopped by a full pipe.
struct FirstLineReader {
  std::size_t limit = kTokenCommandLineLimit;
  std::string line;
  bool complete = false;
  bool too_long = false;

  void Take(std::string_view bytes) {
    if (complete || too_long) return;
    const std::size_t end = bytes.find('\n');
    line.append(bytes.substr(0, end));
    if (end != std::string_view::npos) complete = true;
    if (line.size() > limit) {
      line.resize(limit);
      too_long = true;
    }
  }
  std::string Text() const {
    std::string text = line;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
  }
};

// Reads what is there; false at the end of the stream.
bool ReadSome(int fd, FirstLineReader& reader) {
  std::array<char, 16384> block;
  for (;;) {
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got > 0) {
      reader.Take(std::string_view(block.data(), static_cast<std::size_t>(got)));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    return got < 0 && errno == EAGAIN;
  }
}

pid_t SpawnShell(const std::string& command, int out, int error) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, error, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  const int failure =
      posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failure != 0) {
    errno = failure;
    return -1;
  }
  return pid;
}

}  // namespace

OAuthEndpoints OAuthSettings::endpoints() const {
  if (provider == kProviderGoogle) {
    return {"https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token",
            "https://mail.google.com/"};
  }
  if (provider == kProviderMicrosoft) {
    return {"https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
            "https://login.microsoftonline.com/common/oauth2/v2.0/token",
            "https://outlook.office.com/SMTP.Send offline_access"};
  }
  return custom;
}

std::string RunTokenCommand(const std::string& command, std::chrono::milliseconds limit) {
  const std::string shown = VisibleText(command);
  std::array<Descriptor, 2> out;
  std::array<Descriptor, 2> error;
  for (auto* pipe : {&out, &error}) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      throw TokenError(message::FormatText(texts::kTokenCommandNotStarted, {shown}));
    }
    (*pipe)[0] = Descriptor(ends[0]);
    (*pipe)[1] = Descriptor(ends[1]);
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
  }
  const pid_t pid = SpawnShell(command, out[1].get(), error[1].get());
  if (pid < 0) throw TokenError(message::FormatText(texts::kTokenCommandNotStarted, {shown}));
  CommandGroup group(pid);
  out[1].Close();
  error[1].Close();
  FirstLineReader token;
  FirstLineReader complaint;
  const net::Deadline deadline(net::WaitLimit(static_cast<int>(limit.count())));
  std::optional<int> status;
  // A program the command left running may hold the pipes open: the shell's end is the end.
  while (!(status = group.Ended())) {
    const int left = deadline.Remaining().milliseconds();
    if (left == 0) {
      throw TokenError(message::FormatText(
          texts::kTokenCommandTimedOut,
          {std::to_string((limit.count() + 999) / 1000), VisibleText(complaint.Text())}));
    }
    std::array<pollfd, 2> entries = {pollfd{out[0].get(), POLLIN, 0},
                                     pollfd{error[0].get(), POLLIN, 0}};
    // Closed pipes no longer wake the wait; the shell's end is then looked for now and then.
    int slice = out[0].get() < 0 && error[0].get() < 0 ? 20 : left;
    if (const net::GuiPumpBase* pump = net::CurrentGuiPump(); pump != nullptr) {
      slice = std::min(slice, pump->idle_timeout());
    }
    ::poll(entries.data(), entries.size(), std::min(slice, left));
    if (entries[0].revents != 0 && !ReadSome(out[0].get(), token)) out[0].Close();
    if (entries[1].revents != 0 && !ReadSome(error[0].get(), complaint)) error[0].Close();
    if (token.too_long) throw TokenError(texts::kTokenCommandLineTooLong);
    // The window is served meanwhile; its Cancel raises SendCancelled, and the group ends.
    net::GuiPumpBase::IdleHook(net::IdleOccasion::ioIdle);
  }
  if (out[0].get() >= 0) ReadSome(out[0].get(), token);
  if (error[0].get() >= 0) ReadSome(error[0].get(), complaint);
  if (token.too_long) throw TokenError(texts::kTokenCommandLineTooLong);
  const bool exited = WIFEXITED(*status);
  const std::string code =
      exited ? std::to_string(WEXITSTATUS(*status)) : texts::kTokenCommandKilled;
  const std::string reason = VisibleText(complaint.Text());
  if (!exited || WEXITSTATUS(*status) != 0) {
    throw TokenError(message::FormatText(texts::kTokenCommandFailed, {code, reason}));
  }
  if (token.Text().empty()) {
    throw TokenError(message::FormatText(texts::kTokenCommandSilent, {code, reason}));
  }
  return token.Text();
}

TokenGrant RequestToken(const std::string& token_url,
                        const std::multimap<std::string, std::string>& form,
                        std::chrono::milliseconds limit) {
  std::string failure;
  const ServiceCalls* calls = Services(failure);
  if (calls == nullptr) throw TokenError(message::FormatText(texts::kNoServicesModule, {failure}));
  TokenReply reply = calls->request_token(token_url, form, limit);
  switch (reply.outcome) {
    case TokenReply::Outcome::kGranted:
      break;
    case TokenReply::Outcome::kSignInAgain:
      throw SignInRefused(reply.failure);
    case TokenReply::Outcome::kUnreachable:
      throw TokenUnreachable(reply.failure);
    case TokenReply::Outcome::kFailed:
      throw TokenError(reply.failure);
  }
  return {std::move(reply.access_token), std::move(reply.refresh_token)};
}

TokenGrant ObtainAccessToken(const OAuthSettings& settings, const std::string& refresh_token) {
  if (!settings.token_command.empty()) return {RunTokenCommand(settings.token_command), {}};
  if (refresh_token.empty()) throw TokenError(texts::kNotSignedIn);
  std::multimap<std::string, std::string> form = {{"grant_type", "refresh_token"},
                                                  {"refresh_token", refresh_token},
                                                  {"client_id", settings.client_id}};
  if (!settings.client_secret.empty()) form.emplace("client_secret", settings.client_secret);
  return RequestToken(settings.endpoints().token_url, form);
}

}  // namespace tovrel::app
