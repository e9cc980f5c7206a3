#include "app/send_pump.h"

#include <QCoreApplication>

#include "app/send_progress.h"

namespace tovrel::app {

namespace {

// A wait gives the window a turn this often, which keeps it answering within a frame or two.
constexpr int kWaitSliceMs = 25;
// Writes to a fast server come far more often than the window needs a turn; serving events after
// every one would cost more than the writes themselves.
constexpr qint64 kServiceIntervalMs = 15;

}  // namespace

void SendPump::Total(int64_t total) { progress_.SetTotal(total); }

void SendPump::Progress(int64_t done) { progress_.SetDone(done); }

net::SendTurn SendPump::Yield() {
  if (!since_service_.isValid() || since_service_.elapsed() >= kServiceIntervalMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    since_service_.start();
  }
  return cancel_requested_ ? net::SendTurn::kStop : net::SendTurn::kGoOn;
}

int SendPump::turn_interval() const { return kWaitSliceMs; }

}  // namespace tovrel::app
