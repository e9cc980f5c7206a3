#pragma once

// The compose window as the observer of a send it starts: the status bar's bar follows the
// message text, and in the send's turns the window's events are served, so it paints and takes a
// click on Cancel. A cancel asked for stops the send at its next turn. One exists only for the
// length of a send from the window.

#include <QElapsedTimer>
#include <cstdint>

#include "net/send_observer.h"

namespace tovrel::app {

class SendProgress;

class SendPump : public net::SendObserver {
 public:
  explicit SendPump(SendProgress& progress) : progress_(progress) {}

  // Asks the send to stop at the next turn.
  void RequestCancel() { cancel_requested_ = true; }
  bool cancel_requested() const { return cancel_requested_; }

  void Total(int64_t total) override;
  void Progress(int64_t done) override;
  // Serves the window's pending events; kStop once a cancel was asked for.
  net::SendTurn Yield() override;
  int turn_interval() const override;

 private:
  SendProgress& progress_;
  QElapsedTimer since_service_;
  bool cancel_requested_ = false;
};

}  // namespace tovrel::app
