#include "http/host_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QMetaObject>
#include <thread>
#include <utility>

#include "http/socket_error_table.h"

namespace tovrel::http {

HostLookup::HostLookup(QObject* receiver) : shared_(std::make_shared<Shared>()) {
  shared_->receiver = receiver;
}

HostLookup::~HostLookup() {
  std::lock_guard lock(shared_->mutex);
  shared_->receiver = nullptr;
}

LookupResult HostLookup::SystemResolve(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0) return {SocketErrorFromLookup(rc), {}};
  LookupResult result;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET || entry->ai_family == AF_INET6) {
      result.addresses.emplace_back(entry->ai_addr, entry->ai_addrlen);
    }
  }
  ::freeaddrinfo(found);
  return result;
}

void HostLookup::Start(const std::string& name, Done done) {
  Resolver resolver = resolver_ ? resolver_ : Resolver(&HostLookup::SystemResolve);
  std::thread([shared = shared_, name, resolver = std::move(resolver),
               done = std::move(done)]() mutable {
    LookupResult result;
    try {
      result = resolver(name);
    } catch (...) {
      result = {SocketErrorFromLookup(EAI_FAIL), {}};
    }
    if (result.error_number == 0 && result.addresses.empty()) {
      result.error_number = SocketErrorFromLookup(EAI_NODATA);
    }
    if (result.error_number != 0) result.addresses.clear();
    std::lock_guard lock(shared->mutex);
    if (shared->receiver == nullptr) return;
    QMetaObject::invokeMethod(
        shared->receiver,
        [done = std::move(done), result = std::move(result)]() mutable { done(std::move(result)); },
        Qt::QueuedConnection);
  }).detach();
}

}  // namespace tovrel::http
