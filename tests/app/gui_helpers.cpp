#include "gui_helpers.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QTest>
#include <algorithm>

namespace tovrel::test {

ModalAnswerer::ModalAnswerer() {
  timer_.setInterval(20);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  // A modal window already up when we start (the caller's own dialog) is not ours to answer.
  if (QWidget* current = QApplication::activeModalWidget()) seen_.emplace_back(current);
  timer_.start();
}

ModalAnswerer::~ModalAnswerer() {
  timer_.stop();
  EXPECT_TRUE(actions_.empty()) << actions_.size() << " expected modal window(s) never appeared";
}

ModalAnswerer& ModalAnswerer::Then(Action action) {
  actions_.push_back(std::move(action));
  return *this;
}

void ModalAnswerer::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || !modal->isVisible()) return;
  const bool known = std::any_of(seen_.begin(), seen_.end(),
                                 [modal](const QPointer<QWidget>& w) { return w == modal; });
  if (known) {
    // An answer that did not close its window would hang the test: close it and say so.
    if (modal == last_answered_ && answered_clock_.hasExpired(15000)) {
      ADD_FAILURE() << "a modal " << modal->metaObject()->className()
                    << " stayed open after it was answered";
      if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
      } else {
        modal->close();
      }
    }
    return;
  }
  if (actions_.empty()) return;
  seen_.emplace_back(modal);
  last_answered_ = modal;
  answered_clock_.start();
  Action action = std::move(actions_.front());
  actions_.erase(actions_.begin());
  ++answered_;
  action(modal);
}

NoModalExpected::NoModalExpected() : existing_(QApplication::activeModalWidget()) {
  timer_.setInterval(20);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == existing_ || !modal->isVisible()) return;
    auto* box = qobject_cast<QMessageBox*>(modal);
    ADD_FAILURE() << "unexpected " << modal->metaObject()->className() << ": "
                  << (box ? box->text().toStdString() : modal->windowTitle().toStdString());
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    } else {
      modal->close();
    }
  });
  timer_.start();
}

NoModalExpected::~NoModalExpected() { timer_.stop(); }

SeenBox ReadBox(QWidget* modal) {
  SeenBox seen;
  auto* box = qobject_cast<QMessageBox*>(modal);
  EXPECT_NE(box, nullptr) << "the modal window is not a message box";
  if (box == nullptr) return seen;
  seen.title = box->windowTitle();
  seen.text = box->text();
  seen.icon = box->icon();
  return seen;
}

void PressBoxButton(QWidget* modal, QMessageBox::StandardButton button) {
  auto* box = qobject_cast<QMessageBox*>(modal);
  ASSERT_NE(box, nullptr);
  QAbstractButton* b = box->button(button);
  ASSERT_NE(b, nullptr) << "the box has no such button";
  QTest::mouseClick(b, Qt::LeftButton);
}

ModalAnswerer::Action AnswerBox(std::vector<SeenBox>* into, QMessageBox::StandardButton button) {
  return [into, button](QWidget* modal) {
    if (into != nullptr) into->push_back(ReadBox(modal));
    PressBoxButton(modal, button);
  };
}

std::string SaveGrab(QWidget* window, const std::string& name) {
  const QString dir = QStringLiteral(TOVREL_BUILD_DIR "/screenshots");
  QDir().mkpath(dir);
  const QString path = dir + "/" + QString::fromStdString(name) + ".png";
  EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
  return path.toStdString();
}

bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
  QDeadlineTimer deadline(timeout_ms);
  while (!done() && !deadline.hasExpired()) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(5);
  }
  return done();
}

}  // namespace tovrel::test
