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

void HostLookup::Start(const std::string& name, Done done) {
  std::thread([shared = shared_, name, done = std::move(done)]() mutable {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    int error_number = 0;
    std::uint32_t address = 0;
    if (rc != 0) {
      error_number = SocketErrorFromLookup(rc);
    } else {
      for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET) {
          address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
          break;
        }
      }
      freeaddrinfo(found);
      if (address == 0) error_number = SocketErrorFromLookup(EAI_NODATA);
    }
    std::lock_guard lock(shared->mutex);
    if (shared->receiver == nullptr) return;
    QMetaObject::invokeMethod(
        shared->receiver,
        [done = std::move(done), error_number, address] { done(error_number, address); },
        Qt::QueuedConnection);
  }).detach();
}

}  // namespace tovrel::http
