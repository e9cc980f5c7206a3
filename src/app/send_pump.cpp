#include "app/send_pump.h"

#include <QCoreApplication>

#include "app/app_errors.h"
#include "app/texts.h"

namespace tovrel::app {

namespace {

// A wait gives the window a turn this often, which keeps it answering within a frame or two.
constexpr int kWaitSliceMs = 25;
// Writes to a fast server come far more often than the window needs a turn; serving events after
// every one would cost more than the writes themselves.
constexpr qint64 kServiceIntervalMs = 15;

}  // namespace

SendPump::SendPump() {
  set_idle_timeout(kWaitSliceMs);
  // Turns after writes too: a server that takes everything at once never leaves a wait idle.
  set_only_when_idle(false);
}

void SendPump::ServiceApplication() {
  if (!since_service_.isValid() || since_service_.elapsed() >= kServiceIntervalMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    since_service_.start();
  }
  if (cancel_requested_ && !cancel_raised_) {
    cancel_raised_ = true;
    throw SendCancelled(texts::kSendCancelled);
  }
}

}  // namespace tovrel::app
