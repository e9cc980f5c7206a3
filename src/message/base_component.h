#pragma once

namespace tovrel::message {

// Common root of the long-lived objects a window owns (the message, the network clients).
// The owner link is informational only: ownership itself is expressed by the owner holding the
// component by value or through a smart pointer.
class BaseComponent {
 public:
  explicit BaseComponent(BaseComponent* owner = nullptr) : owner_(owner) {}
  virtual ~BaseComponent() = default;

  BaseComponent(const BaseComponent&) = delete;
  BaseComponent& operator=(const BaseComponent&) = delete;

  BaseComponent* owner() const { return owner_; }

 private:
  BaseComponent* owner_;
};

}  // namespace tovrel::message
