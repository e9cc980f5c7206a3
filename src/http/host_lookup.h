#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/peer_address.h"

namespace tovrel::http {

// What a lookup found: error_number is 0 with at least one address (ports 0), else 11001 to
// 11004 and no address.
struct LookupResult {
  int error_number = 0;
  std::vector<PeerAddress> addresses;
};

// Looks host names up without blocking the calling (GUI) thread: the resolver runs on a
// short-lived worker thread and the answer comes back as a queued call on the receiver's thread,
// so it arrives while that thread pumps its event queue.
class HostLookup {
 public:
  using Done = std::function<void(LookupResult result)>;
  // Runs on the worker thread; must not touch the receiver.
  using Resolver = std::function<LookupResult(const std::string& name)>;

  explicit HostLookup(QObject* receiver);
  ~HostLookup();  // answers still on their way are dropped
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  // Every IPv6 and IPv4 stream address of `name`, in the order the system resolver gives them.
  static LookupResult SystemResolve(const std::string& name);

  // Replaces the system resolver for later lookups (a test hands its own addresses this way);
  // an empty function restores the system one.
  void set_resolver(Resolver resolver) { resolver_ = std::move(resolver); }

  void Start(const std::string& name, Done done);

 private:
  // Outlives the receiver when a worker is still resolving; the worker posts only while
  // `receiver` is set, under the mutex, so it never touches a destroyed object.
  struct Shared {
    std::mutex mutex;
    QObject* receiver;
  };
  std::shared_ptr<Shared> shared_;
  Resolver resolver_;
};

}  // namespace tovrel::http
