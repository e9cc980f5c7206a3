#include "net/connection_intercept.h"

#include <algorithm>

namespace tovrel::net {

ConnectionIntercept::~ConnectionIntercept() {
  auto users = users_;
  for (InterceptUser* user : users) user->InterceptDestroyed();
}

void ConnectionIntercept::BindingConnected(SocketHandle& binding) {
  binding_ = &binding;
  if (on_connect_) on_connect_(*this);
}

void ConnectionIntercept::AfterReceive(std::span<const char>) {}
void ConnectionIntercept::AfterSend(std::span<const char>) {}
void ConnectionIntercept::BindingClosed() { binding_ = nullptr; }
long ConnectionIntercept::ReceiveInstead(std::span<char>) { return 0; }
long ConnectionIntercept::SendInstead(std::span<const char>) { return 0; }

void ConnectionIntercept::AddUser(InterceptUser* user) {
  if (std::find(users_.begin(), users_.end(), user) == users_.end()) users_.push_back(user);
}

void ConnectionIntercept::RemoveUser(InterceptUser* user) {
  users_.erase(std::remove(users_.begin(), users_.end(), user), users_.end());
}

}  // namespace tovrel::net
