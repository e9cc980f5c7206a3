#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tovrel::http {

// Looks host names up to IPv4 addresses without blocking the calling (GUI) thread: the system
// resolver runs on a short-lived worker thread and the answer comes back as a queued call on
// the receiver's thread, so it arrives while that thread pumps its event queue.
class HostLookup {
 public:
  // error_number is 0 on success (address in network byte order), else 11001 to 11004.
  using Done = std::function<void(int error_number, std::uint32_t address)>;

  explicit HostLookup(QObject* receiver);
  ~HostLookup();  // answers still on their way are dropped
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  void Start(const std::string& name, Done done);

 private:
  // Outlives the receiver when a worker is still resolving; the worker posts only while
  // `receiver` is set, under the mutex, so it never touches a destroyed object.
  struct Shared {
    std::mutex mutex;
    QObject* receiver;
  };
  std::shared_ptr<Shared> shared_;
};

}  // namespace tovrel::http
