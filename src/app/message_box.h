#pragma once

#include <QMessageBox>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>

#include "app/text_rules.h"

class QWidget;

namespace tovrel::app {

// How message boxes reach the user. On a machine without a display nobody can press a button,
// so each box becomes one line on standard error and is answered with its default button.
enum class MessageBoxMode {
  kAuto,         // headless exactly when the GUI runs on Qt's offscreen platform
  kInteractive,  // always a real modal box (tests that answer boxes themselves)
  kHeadless,     // always a line on the stream
};

void SetMessageBoxMode(MessageBoxMode mode);
MessageBoxMode message_box_mode();
// True when boxes are currently answered without being shown.
bool MessageBoxesAreHeadless();

// Where headless boxes are written; std::cerr unless a test captures them.
void SetHeadlessMessageStream(std::ostream* stream);

// The one way the program shows a message box. `text` and `title` are 8-bit text in the
// locale's encoding. An empty title leaves the window system's default caption. Returns the
// button the user pressed (or the default button when headless, or when the box was closed
// without a choice).
// `captions` names buttons whose standard caption does not say what they do.
struct ButtonCaption {
  QMessageBox::StandardButton button;
  const char* caption;
};
QMessageBox::StandardButton ShowMessageBox(
    QWidget* parent, const std::string& text, const std::string& title, QMessageBox::Icon icon,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
    QMessageBox::StandardButton default_button = QMessageBox::NoButton,
    std::span<const ButtonCaption> captions = {});

// The same box without waiting for it: the caller's work goes on while the box is shown, and
// `answered` runs with the button pressed once the user has answered (at once when headless).
void OpenMessageBox(QWidget* parent, const std::string& text, const std::string& title,
                    QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                    QMessageBox::StandardButton default_button,
                    std::function<void(QMessageBox::StandardButton)> answered);

}  // namespace tovrel::app
