#pragma once

// Helpers for driving real widgets: answering the modal dialogs and message boxes a command
// opens, reading message boxes, saving grabs of windows.

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "net/send_observer.h"

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace tovrel::test {

// Arms a watcher before a command that opens modal windows. Each time a new modal window
// appears, the next action in the queue runs with it (the action must close it, or open the
// next one). Actions that never got a window are reported as failures at destruction.
class ModalAnswerer {
 public:
  using Action = std::function<void(QWidget*)>;
  ModalAnswerer();
  ~ModalAnswerer();
  ModalAnswerer(const ModalAnswerer&) = delete;
  ModalAnswerer& operator=(const ModalAnswerer&) = delete;

  ModalAnswerer& Then(Action action);
  int answered() const { return answered_; }
  int pending() const { return static_cast<int>(actions_.size()); }

 private:
  void Poll();

  QTimer timer_;
  std::vector<Action> actions_;
  std::vector<QPointer<QWidget>> seen_;
  QPointer<QWidget> last_answered_;
  QElapsedTimer answered_clock_;
  int answered_ = 0;
};

// Within its scope no modal window may appear: one that does is a test failure (its text is
// reported) and is closed, so that a regression fails the test instead of hanging it.
class NoModalExpected {
 public:
  NoModalExpected();
  ~NoModalExpected();
  NoModalExpected(const NoModalExpected&) = delete;
  NoModalExpected& operator=(const NoModalExpected&) = delete;

 private:
  QTimer timer_;
  QPointer<QWidget> existing_;
};

// What a message box said, and a click on one of its buttons.
struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};
SeenBox ReadBox(QWidget* modal);
void PressBoxButton(QWidget* modal, QMessageBox::StandardButton button);

// An action that records the box into `into` and presses its button.
ModalAnswerer::Action AnswerBox(std::vector<SeenBox>* into,
                                QMessageBox::StandardButton button = QMessageBox::Ok);

// Stops a send at the first turn at which `stop` holds.
struct StopWhen : net::SendObserver {
  explicit StopWhen(std::function<bool()> when) : stop(std::move(when)) {}
  void Total(int64_t) override {}
  void Progress(int64_t) override {}
  net::SendTurn Yield() override { return stop() ? net::SendTurn::kStop : net::SendTurn::kGoOn; }
  int turn_interval() const override { return 50; }
  std::function<bool()> stop;
};

// Saves a grab of the window as build/screenshots/<name>.png and returns the path.
std::string SaveGrab(QWidget* window, const std::string& name);

// Runs the event loop until `done` holds or `timeout_ms` pass; returns `done()`.
bool WaitFor(const std::function<bool()>& done, int timeout_ms = 10000);

}  // namespace tovrel::test
