#include "http/thread_timer.h"

#include <QTimerEvent>
#include <climits>
#include <utility>

#include "http/http_error.h"
#include "http/texts.h"

namespace tovrel::http {

ThreadTimer::ThreadTimer(QObject* parent) : QObject(parent) {}

ThreadTimer::~ThreadTimer() {
  if (timer_id_ != 0) killTimer(timer_id_);
}

void ThreadTimer::set_enabled(bool enabled) {
  enabled_ = enabled;
  UpdateTimer();
}

void ThreadTimer::set_interval(unsigned milliseconds) {
  interval_ = milliseconds;
  UpdateTimer();
}

void ThreadTimer::set_on_timer(std::function<void()> handler) {
  on_timer_ = std::move(handler);
  UpdateTimer();
}

void ThreadTimer::UpdateTimer() {
  if (timer_id_ != 0) {
    killTimer(timer_id_);
    timer_id_ = 0;
  }
  if (interval_ == 0 || !enabled_ || !on_timer_) return;
  const int milliseconds = interval_ > static_cast<unsigned>(INT_MAX) ? INT_MAX : int(interval_);
  timer_id_ = startTimer(milliseconds);
  if (timer_id_ == 0) throw HttpError(texts::kNoTimer);
}

void ThreadTimer::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timer_id_) return;
  // The handler may change or stop this timer; keep it alive for the call.
  auto handler = on_timer_;
  if (handler) handler();
}

}  // namespace tovrel::http
