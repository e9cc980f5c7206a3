#include "keyring_daemon.h"

#include <sys/stat.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace tovrel::test {

namespace {

// A session bus that starts no service on demand: a request made before the keyring is up must
// fail rather than start a second daemon that nobody would stop.
std::string BusConfig(const std::string& folder) {
  return "<busconfig>\n"
         "  <type>session</type>\n"
         "  <listen>unix:dir=" +
         folder +
         "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

}  // namespace

KeyringDaemon::KeyringDaemon() {
  const std::string run = dir_.File("run");
  const std::string home = dir_.File("home");
  mkdir(run.c_str(), 0700);
  mkdir(home.c_str(), 0700);
  WriteFile(dir_.File("bus.conf"), BusConfig(run));
  bus_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      "dbus-daemon", "--config-file=" + dir_.File("bus.conf"), "--nofork", "--print-address"});
  address_ = bus_->ReadLine();

  // "--unlock" creates the login keyring with the password read from standard input; the
  // daemon makes no keyring for an empty one.
  keyring_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{
          "/bin/sh", "-c",
          "printf test | exec gnome-keyring-daemon --unlock --components=secrets --foreground"},
      std::vector<std::string>{env(), "HOME=" + home, "XDG_DATA_HOME=" + home + "/data",
                               "XDG_CONFIG_HOME=" + home + "/config", "XDG_RUNTIME_DIR=" + run});

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    const ProcessResult owner =
        RunProcess({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                    "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                    "string:org.freedesktop.secrets"},
                   {}, {env()}, std::chrono::seconds(5));
    if (owner.out.find("boolean true") != std::string::npos) break;
    if (std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("the keyring daemon did not come up: " + owner.err);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

KeyringDaemon::~KeyringDaemon() {
  keyring_->Stop();
  bus_->Stop();
}

KeyringDaemon& KeyringDaemon::Shared() {
  static KeyringDaemon daemon;
  return daemon;
}

void KeyringDaemon::Clear() const {
  RunProcess({"secret-tool", "clear", "service", "tovrelmail"}, {}, {env()},
             std::chrono::seconds(20));
}

std::optional<std::string> KeyringDaemon::Lookup(const std::string& server,
                                                 const std::string& user) const {
  const ProcessResult found =
      RunProcess({"secret-tool", "lookup", "service", "tovrelmail", "server", server, "user", user},
                 {}, {env()}, std::chrono::seconds(20));
  if (found.exit_status != 0) return std::nullopt;
  return found.out;
}

}  // namespace tovrel::test
