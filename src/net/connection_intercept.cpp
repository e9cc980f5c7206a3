#include "net/connection_intercept.h"

#include <algorithm>

#include "net/net_errors.h"

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

InterceptSlot::~InterceptSlot() {
  if (intercept_ != nullptr) intercept_->RemoveUser(this);
}

void InterceptSlot::set(ConnectionIntercept* intercept) {
  if (intercept_ != nullptr) intercept_->RemoveUser(this);
  intercept_ = intercept;
  if (intercept_ != nullptr) {
    intercept_->AddUser(this);
  } else {
    enabled_ = false;
  }
}

void InterceptSlot::set_enabled(bool enabled) {
  if (enabled && intercept_ == nullptr) throw InterceptPropIsNil();
  enabled_ = enabled;
}

void InterceptSlot::InterceptDestroyed() {
  intercept_ = nullptr;
  enabled_ = false;
}

}  // namespace tovrel::net
