#include "app/message_box.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QString>
#include <iostream>
#include <memory>

#include "app/form_style.h"
#include "app/text_rules.h"

namespace tovrel::app {

namespace {

MessageBoxMode g_mode = MessageBoxMode::kAuto;
std::ostream* g_stream = nullptr;

// The button a keyboard user would hit with Enter: the given one, else the first of the set in
// the order the window system lays them out (OK before Cancel, Yes before No).
QMessageBox::StandardButton DefaultButton(QMessageBox::StandardButtons buttons,
                                          QMessageBox::StandardButton requested) {
  if (requested != QMessageBox::NoButton && buttons.testFlag(requested)) return requested;
  for (auto b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::Retry, QMessageBox::No,
                 QMessageBox::Cancel, QMessageBox::Abort, QMessageBox::Ignore}) {
    if (buttons.testFlag(b)) return b;
  }
  return QMessageBox::Ok;
}

// The line breaks are the message's own; any other control character (from a file name, a
// server reply, a link) is made visible instead of acting on the terminal or the box.
std::string Shown(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find_first_of("\r\n", start);
    shown += VisibleText(std::string_view(text).substr(start, end - start));
    if (end == std::string::npos) return shown;
    shown += text[end];
    start = end + 1;
  }
}

}  // namespace

void SetMessageBoxMode(MessageBoxMode mode) { g_mode = mode; }

MessageBoxMode message_box_mode() { return g_mode; }

bool MessageBoxesAreHeadless() {
  switch (g_mode) {
    case MessageBoxMode::kInteractive:
      return false;
    case MessageBoxMode::kHeadless:
      return true;
    case MessageBoxMode::kAuto:
      break;
  }
  return QGuiApplication::platformName() == QLatin1String("offscreen");
}

void SetHeadlessMessageStream(std::ostream* stream) { g_stream = stream; }

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const std::string& text,
                                           const std::string& title, QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton default_button,
                                           std::span<const ButtonCaption> captions) {
  const auto fallback = DefaultButton(buttons, default_button);
  if (MessageBoxesAreHeadless()) {
    std::ostream& out = g_stream ? *g_stream : std::cerr;
    out << VisibleText(OneLine(text)) << '\n' << std::flush;
    return fallback;
  }
  const std::string shown = Shown(text);
  QMessageBox box(icon, QString::fromLocal8Bit(title.data(), qsizetype(title.size())),
                  QString::fromLocal8Bit(shown.data(), qsizetype(shown.size())), buttons, parent);
  box.setDefaultButton(fallback);
  for (const ButtonCaption& caption : captions) {
    if (QAbstractButton* button = box.button(caption.button)) {
      button->setText(QString::fromUtf8(caption.caption));
    }
  }
  const FocusReturn focus_return(parent);
  const int result = box.exec();
  const auto pressed = static_cast<QMessageBox::StandardButton>(result);
  return buttons.testFlag(pressed) ? pressed : fallback;
}

}  // namespace tovrel::app

namespace tovrel::app {

void OpenMessageBox(QWidget* parent, const std::string& text, const std::string& title,
                    QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                    QMessageBox::StandardButton default_button,
                    std::function<void(QMessageBox::StandardButton)> answered) {
  const auto fallback = DefaultButton(buttons, default_button);
  if (MessageBoxesAreHeadless()) {
    answered(ShowMessageBox(parent, text, title, icon, buttons, default_button));
    return;
  }
  const std::string shown = Shown(text);
  auto* box = new QMessageBox(icon, QString::fromLocal8Bit(title.data(), qsizetype(title.size())),
                              QString::fromLocal8Bit(shown.data(), qsizetype(shown.size())),
                              buttons, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setDefaultButton(fallback);
  QObject::connect(box, &QMessageBox::finished, box,
                   [buttons, fallback, answered = std::move(answered),
                    focus_return = std::make_shared<FocusReturn>(parent)](int result) {
                     const auto pressed = static_cast<QMessageBox::StandardButton>(result);
                     answered(buttons.testFlag(pressed) ? pressed : fallback);
                   });
  box->open();
}

}  // namespace tovrel::app
