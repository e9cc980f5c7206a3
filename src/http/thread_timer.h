#pragma once

#include <QObject>
#include <functional>

namespace tovrel::http {

// A one-shot-or-repeating timer that runs its handler on the thread that owns it, through that
// thread's event loop. Every change of a property restarts it, so setting the same interval again
// begins a fresh period; that is what lets a caller measure silence rather than total time.
class ThreadTimer : public QObject {
 public:
  explicit ThreadTimer(QObject* parent = nullptr);
  ~ThreadTimer() override;

  bool enabled() const { return enabled_; }
  void set_enabled(bool enabled);
  unsigned interval() const { return interval_; }
  void set_interval(unsigned milliseconds);
  void set_on_timer(std::function<void()> handler);

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  void UpdateTimer();

  bool enabled_ = true;
  unsigned interval_ = 1000;
  std::function<void()> on_timer_;
  int timer_id_ = 0;
};

}  // namespace tovrel::http
