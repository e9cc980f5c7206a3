#pragma once

// While the compose window sends, the transport's waits and writes hand the window its turns
// here: its events are served, so it paints, shows the progress and takes a click on Cancel. A
// cancel request ends the send from inside the next turn by raising SendCancelled, which the
// transport unwinds like any failure. One exists only for the length of a send from the window;
// an unattended send has none and never yields.

#include <QElapsedTimer>

#include "net/gui_pump.h"

namespace tovrel::app {

class SendPump : public net::GuiPumpBase {
 public:
  SendPump();

  // Asks the send to stop at the next turn.
  void RequestCancel() { cancel_requested_ = true; }
  bool cancel_requested() const { return cancel_requested_; }

  // Serves the window's pending events, then raises SendCancelled when a cancel was asked for.
  // It raises once: what the send does to clean up afterwards is not cut short again.
  void ServiceApplication() override;

 private:
  QElapsedTimer since_service_;
  bool cancel_requested_ = false;
  bool cancel_raised_ = false;
};

}  // namespace tovrel::app
