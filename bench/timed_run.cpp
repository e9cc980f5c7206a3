// Runs one program and measures it as a whole process: wall time, CPU time and peak resident
// memory, taken from wait4's resource usage (which covers the program's own waited-for
// children too).
//
// Usage: tovrel_timed [--stdin FILE] [--stdout FILE] [--stderr FILE] -- PROGRAM [ARG...]
// Prints "wall_s=W user_s=U sys_s=S maxrss_kib=R status=X" on standard output, where X is the
// exit code, or 128 + the signal number. Exits with 0 when it could run the program at all.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

int Usage() {
  std::fprintf(stderr,
               "usage: tovrel_timed [--stdin FILE] [--stdout FILE] [--stderr FILE] -- PROGRAM "
               "[ARG...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string redirect[3];
  int i = 1;
  for (; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) return Usage();
    if (option == "--stdin") {
      redirect[0] = argv[++i];
    } else if (option == "--stdout") {
      redirect[1] = argv[++i];
    } else if (option == "--stderr") {
      redirect[2] = argv[++i];
    } else {
      return Usage();
    }
  }
  if (i >= argc) return Usage();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd < 3; ++fd) {
    if (redirect[fd].empty()) continue;
    int flags = fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, fd, redirect[fd].c_str(), flags, 0644);
  }

  double start = Now();
  pid_t pid = -1;
  int error = posix_spawnp(&pid, argv[i], &actions, nullptr, argv + i, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "tovrel_timed: cannot run %s: %s\n", argv[i], std::strerror(error));
    return 1;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("tovrel_timed: wait4");
      return 1;
    }
  }
  double wall = Now() - start;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("wall_s=%.6f user_s=%.6f sys_s=%.6f maxrss_kib=%ld status=%d\n", wall,
              Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss, code);
  return 0;
}
