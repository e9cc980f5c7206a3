#pragma once

// A hook object a connection can route its traffic through (for example to log or transform
// it). The connection calls it only while its intercept is enabled.

#include <functional>
#include <span>
#include <vector>

#include "message/base_component.h"

namespace tovrel::net {

class SocketHandle;

// Told when the intercept it uses goes away, so that no dangling reference remains.
class InterceptUser {
 public:
  virtual void InterceptDestroyed() = 0;

 protected:
  ~InterceptUser() = default;
};

class ConnectionIntercept : public message::BaseComponent {
 public:
  explicit ConnectionIntercept(BaseComponent* owner = nullptr) : BaseComponent(owner) {}
  ~ConnectionIntercept() override;

  SocketHandle* binding() const { return binding_; }
  void set_on_connect(std::function<void(ConnectionIntercept&)> handler) {
    on_connect_ = std::move(handler);
  }
  bool handles_receive() const { return handles_receive_; }
  void set_handles_receive(bool value) { handles_receive_ = value; }
  bool handles_send() const { return handles_send_; }
  void set_handles_send(bool value) { handles_send_ = value; }

  virtual void BindingConnected(SocketHandle& binding);
  virtual void AfterReceive(std::span<const char> bytes);
  virtual void AfterSend(std::span<const char> bytes);
  virtual void BindingClosed();
  // Used instead of the socket when handles_receive()/handles_send() is set; return the count
  // moved, or -1 with errno set.
  virtual long ReceiveInstead(std::span<char> area);
  virtual long SendInstead(std::span<const char> bytes);

  void AddUser(InterceptUser* user);
  void RemoveUser(InterceptUser* user);

 private:
  SocketHandle* binding_ = nullptr;
  std::function<void(ConnectionIntercept&)> on_connect_;
  bool handles_receive_ = false;
  bool handles_send_ = false;
  std::vector<InterceptUser*> users_;
};

}  // namespace tovrel::net
