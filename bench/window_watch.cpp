// Times a program's first window from outside, on the X server: from the program's exec to its
// top-level window mapped and then first drawn into. The watcher listens on the root window for
// new top-level windows, asks the DAMAGE extension to report the first drawing into each, and
// counts a window only once it is mapped (menus and tooltips, which bypass the window manager,
// are not counted). No clock inside the program is read. The program is then ended and its peak
// RSS taken from wait4.
//
// Usage: tovrel_window_watch [--timeout SECONDS] -- PROGRAM [ARGUMENT...]
// DISPLAY names the server (the bench starts an Xvfb of its own). Prints one line
// "wall_s=PAINTED mapped_s=MAPPED user_s=U sys_s=S maxrss_kib=KIB status=CODE" (seconds since the
// exec; the program's CPU time and peak RSS; CODE 0 once a window was painted, otherwise the
// program's exit status, or 124 when the time ran out).

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

extern char** environ;

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int Usage() {
  std::fprintf(stderr, "usage: tovrel_window_watch [--timeout SECONDS] -- PROGRAM [ARGUMENT...]\n");
  return 2;
}

struct Disconnect {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

}  // namespace

int main(int argc, char** argv) {
  double timeout = 60;
  int i = 1;
  for (; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (option != "--timeout" || i + 1 >= argc) return Usage();
    timeout = std::atof(argv[++i]);
  }
  if (i >= argc) return Usage();

  std::unique_ptr<xcb_connection_t, Disconnect> owned(xcb_connect(nullptr, nullptr));
  xcb_connection_t* x = owned.get();
  if (xcb_connection_has_error(x) != 0) {
    std::fprintf(stderr, "tovrel_window_watch: cannot open the display\n");
    return 1;
  }
  const xcb_query_extension_reply_t* damage = xcb_get_extension_data(x, &xcb_damage_id);
  if (damage == nullptr || damage->present == 0) {
    std::fprintf(stderr, "tovrel_window_watch: the server has no DAMAGE extension\n");
    return 1;
  }
  std::free(xcb_damage_query_version_reply(
      x, xcb_damage_query_version(x, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION), nullptr));
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  // Checked, so that the selection holds before the program starts.
  if (xcb_generic_error_t* error = xcb_request_check(
          x, xcb_change_window_attributes_checked(x, root, XCB_CW_EVENT_MASK, &mask))) {
    std::free(error);
    std::fprintf(stderr, "tovrel_window_watch: cannot watch the root window\n");
    return 1;
  }

  const double start = Now();
  pid_t pid = -1;
  if (int error = posix_spawnp(&pid, argv[i], nullptr, nullptr, argv + i, environ); error != 0) {
    std::fprintf(stderr, "tovrel_window_watch: cannot run %s: %s\n", argv[i], std::strerror(error));
    return 1;
  }

  std::map<xcb_window_t, xcb_damage_damage_t> damages;  // each new top-level window's
  xcb_window_t shown = XCB_NONE;                        // the first one mapped
  double mapped = 0;
  double painted = 0;
  int status = -1;
  int code = 0;
  pollfd watched{xcb_get_file_descriptor(x), POLLIN, 0};
  while (painted == 0 && status < 0) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
      const int type = event->response_type & 0x7f;
      if (type == XCB_CREATE_NOTIFY) {
        auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event);
        if (created->parent == root && !created->override_redirect) {
          xcb_damage_damage_t id = xcb_generate_id(x);
          xcb_damage_create(x, id, created->window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
          damages[created->window] = id;
        }
      } else if (type == XCB_MAP_NOTIFY) {
        auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
        if (shown == XCB_NONE && damages.contains(map->window)) {
          shown = map->window;
          mapped = Now() - start;
        }
      } else if (type == damage->first_event + XCB_DAMAGE_NOTIFY) {
        auto* drawn = reinterpret_cast<xcb_damage_notify_event_t*>(event);
        if (drawn->drawable == shown && shown != XCB_NONE) {
          painted = Now() - start;
        } else {
          // Drawing before the map does not count; the report level needs the damage cleared to
          // report again.
          xcb_damage_subtract(x, drawn->damage, XCB_NONE, XCB_NONE);
        }
      }
      std::free(event);
      if (painted != 0) break;
    }
    xcb_flush(x);
    if (painted != 0) break;
    if (xcb_connection_has_error(x) != 0) {
      std::fprintf(stderr, "tovrel_window_watch: lost the display\n");
      code = 1;
      break;
    }
    int child = 0;
    if (waitpid(pid, &child, WNOHANG) == pid) {
      status = WIFEXITED(child) ? WEXITSTATUS(child) : 128 + WTERMSIG(child);
      std::fprintf(stderr, "tovrel_window_watch: the program ended before it drew a window\n");
      break;
    }
    if (Now() - start > timeout) {
      std::fprintf(stderr, "tovrel_window_watch: no window drawn within %.0f s\n", timeout);
      code = 124;
      break;
    }
    poll(&watched, 1, 20);
  }

  rusage usage{};
  if (status < 0) {
    kill(pid, SIGTERM);
    int child = 0;
    while (wait4(pid, &child, 0, &usage) < 0 && errno == EINTR) {
    }
    status = code;
  } else {
    getrusage(RUSAGE_CHILDREN, &usage);
  }
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
  };
  std::printf("wall_s=%.6f mapped_s=%.6f user_s=%.6f sys_s=%.6f maxrss_kib=%ld status=%d\n",
              painted, mapped, seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss,
              painted != 0 ? 0 : (status != 0 ? status : 1));
  return 0;
}
