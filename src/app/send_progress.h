#pragma once

// The status bar's part in a send from the window: a bar of the bytes the server has taken against
// the size of the message text, and Cancel. Hidden while no send runs; the window's send observer
// (SendPump) drives it.

#include <QWidget>
#include <cstdint>

class QProgressBar;
class QPushButton;

namespace tovrel::app {

class SendProgress : public QWidget {
  Q_OBJECT

 public:
  explicit SendProgress(QWidget* parent = nullptr);

  // Shows the bar empty, its end not yet known.
  void Start();
  // The size of the message text, known once it begins to go out.
  void SetTotal(int64_t total);
  // The bytes of it the server has taken so far; more than the total (the size is counted before
  // dots are stuffed) shows a full bar.
  void SetDone(int64_t done);
  void Finish();

 Q_SIGNALS:
  void cancelRequested();

 private:
  QProgressBar* bar_ = nullptr;
  QPushButton* cancel_ = nullptr;
  int64_t total_ = 0;
};

}  // namespace tovrel::app
