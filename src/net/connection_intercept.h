#pragma once

// A hook object a connection can route its traffic through (for example to log or transform
// it), and the slot in which a connection holds one. The connection calls it only while its
// intercept is enabled.

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
  // The socket is about to close: the last moment to write to it.
  virtual void BindingClosing() {}
  virtual void BindingClosed();
  // Used instead of the socket when handles_receive()/handles_send() is set; return the count
  // moved, or -1 with errno set.
  virtual long ReceiveInstead(std::span<char> area);
  // Input the intercept already holds for the reader, so that waiting for the socket would be
  // wrong (a TLS record decrypted in part).
  virtual bool HasBufferedInput() const { return false; }
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

// A connection's hold on an optional intercept: the reference, whether traffic goes through it,
// and the registration that clears the reference when the intercept goes away first.
class InterceptSlot : private InterceptUser {
 public:
  InterceptSlot() = default;
  ~InterceptSlot();
  InterceptSlot(const InterceptSlot&) = delete;
  InterceptSlot& operator=(const InterceptSlot&) = delete;

  ConnectionIntercept* get() const { return intercept_; }
  // Clearing the reference also turns the intercept off.
  void set(ConnectionIntercept* intercept);
  bool enabled() const { return enabled_; }
  // Raises InterceptPropIsNil when turned on without an intercept.
  void set_enabled(bool enabled);
  // The intercept while traffic goes through it, else nullptr.
  ConnectionIntercept* active() const { return enabled_ ? intercept_ : nullptr; }

 private:
  void InterceptDestroyed() override;

  ConnectionIntercept* intercept_ = nullptr;
  bool enabled_ = false;
};

}  // namespace tovrel::net
