#include "app/form_style.h"

#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <algorithm>

namespace tovrel::app {

namespace {

constexpr double kSmallestPoint = 6.0;

QString InstalledOrSans(const QString& family) {
  if (QFontDatabase::hasFamily(family)) return family;
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

bool LabelFits(const QLabel* label) {
  const QWidget* parent = label->parentWidget();
  const QRect g = label->geometry();
  if (label->wordWrap()) {
    return label->heightForWidth(g.width()) <= g.height() &&
           (parent == nullptr || g.bottom() < parent->height());
  }
  const int needed = label->fontMetrics().horizontalAdvance(ShownCaption(label->text()));
  if (needed > g.width() || g.left() < 0) return false;
  if (parent != nullptr && g.right() >= parent->width()) return false;
  // A field label must end before its field begins.
  if (const QWidget* buddy = label->buddy(); buddy != nullptr && g.right() >= buddy->x()) {
    return false;
  }
  return true;
}

bool ButtonFits(const QPushButton* button) {
  // A few pixels of padding on each side keep the text off the button's frame.
  return button->fontMetrics().horizontalAdvance(ShownCaption(button->text())) + 8 <=
         button->width();
}

bool GroupTitleFits(const QGroupBox* box) {
  return box->fontMetrics().horizontalAdvance(ShownCaption(box->title())) + 16 <= box->width();
}

// Widgets of the form itself, not of dialogs it owns (they are windows of their own).
template <typename T>
QList<T*> FormChildren(const QWidget* form) {
  QList<T*> own;
  for (T* w : form->findChildren<T*>()) {
    if (w->window() == form) own.push_back(w);
  }
  return own;
}

void ScaleFonts(QWidget* form, double factor) {
  for (QWidget* w : FormChildren<QWidget>(form)) {
    if (!w->testAttribute(Qt::WA_SetFont)) continue;
    QFont f = w->font();
    if (f.pixelSize() > 0) {
      f.setPixelSize(std::max(6, static_cast<int>(f.pixelSize() * factor + 0.5)));
    } else {
      f.setPointSizeF(std::max(kSmallestPoint, f.pointSizeF() * factor));
    }
    w->setFont(f);
  }
  QFont f = form->font();
  f.setPointSizeF(std::max(kSmallestPoint, f.pointSizeF() * factor));
  form->setFont(f);
}

}  // namespace

QFont FormFont(const QString& family, double point_size) {
  QFont font(InstalledOrSans(family));
  font.setPointSizeF(point_size);
  return font;
}

QFont FormFontPixels(const QString& family, int pixel_size) {
  QFont font(InstalledOrSans(family));
  font.setPixelSize(pixel_size);
  return font;
}

QFont DialogFont() { return FormFont(QStringLiteral("MS Sans Serif"), 8); }

void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
}

void PlaceLabel(QLabel* label, const QWidget* field, int left, int min_left) {
  label->adjustSize();
  const int width = label->fontMetrics().horizontalAdvance(ShownCaption(label->text())) + 1;
  const int height = label->sizeHint().height();
  int x = left;
  if (x + width > field->x() - 4) x = std::max(min_left, field->x() - 4 - width);
  label->setGeometry(x, field->y() + (field->height() - height) / 2, width, height);
}

bool CaptionsFit(const QWidget* form) {
  for (const QLabel* label : FormChildren<QLabel>(form)) {
    if (!label->text().isEmpty() && !LabelFits(label)) return false;
  }
  for (const QPushButton* button : FormChildren<QPushButton>(form)) {
    if (!ButtonFits(button)) return false;
  }
  for (const QGroupBox* box : FormChildren<QGroupBox>(form)) {
    if (!GroupTitleFits(box)) return false;
  }
  return true;
}

QString ShownCaption(const QString& caption) {
  QString shown;
  shown.reserve(caption.size());
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;
    shown += caption[i];
  }
  return shown;
}

QString WithMnemonic(const QString& caption, char key) {
  QString text = caption;
  const qsizetype at = text.indexOf(QLatin1Char(key), 0, Qt::CaseInsensitive);
  if (at >= 0) text.insert(at, QLatin1Char('&'));
  return text;
}

void NameFieldsAfterLabels(QWidget* form) {
  for (const QLabel* label : form->findChildren<QLabel*>()) {
    QWidget* field = label->buddy();
    if (field == nullptr) continue;
    // A reader says the colon aloud; the label's words are the name.
    QString name = ShownCaption(label->text()).trimmed();
    if (name.endsWith(QLatin1Char(':'))) name.chop(1);
    if (field->accessibleName().isEmpty()) field->setAccessibleName(name);
    if (auto* combo = qobject_cast<QComboBox*>(field); combo && combo->lineEdit()) {
      combo->lineEdit()->setAccessibleName(field->accessibleName());
    }
  }
}

QSize FrameExtra(const QWidget* window, const QWidget* framed_like) {
  for (const QWidget* each : {window, framed_like}) {
    if (each == nullptr || !each->isVisible()) continue;
    const QSize extra = each->frameGeometry().size() - each->geometry().size();
    if (!extra.isNull()) return extra;
  }
  // An X window manager frames a window some time after it is shown; other platforms frame a
  // shown window at once or never.
  if (window->isVisible() && QGuiApplication::platformName() != QLatin1String("xcb")) return {0, 0};
  return {0, window->style()->pixelMetric(QStyle::PM_TitleBarHeight)};
}

void KeepOnScreen(QWidget* window, QPoint wanted, QSize frame) {
  const QRect room = window->screen()->availableGeometry();
  const QSize outer = window->size() + frame;
  const QPoint at(
      std::clamp(wanted.x(), room.left(), std::max(room.left(), room.right() + 1 - outer.width())),
      std::clamp(wanted.y(), room.top(), std::max(room.top(), room.bottom() + 1 - outer.height())));
  if (at != window->pos()) window->move(at);
}

void PlaceDialog(QDialog* dialog) {
  const QWidget* owner = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
  if (owner != nullptr && owner->isVisible()) dialog->setScreen(owner->screen());
  const QSize frame = FrameExtra(dialog, owner);
  const QSize room = dialog->screen()->availableGeometry().size() - frame;
  const QSize fixed = dialog->minimumSize();
  const bool scrolls = dialog->findChild<QScrollArea*>(QStringLiteral("DialogScroll"),
                                                       Qt::FindDirectChildrenOnly) != nullptr;
  if (!scrolls && fixed == dialog->maximumSize() && !room.isEmpty() &&
      (fixed.width() > room.width() || fixed.height() > room.height())) {
    // The form keeps its size, places and tab order (it stays in the same window) inside a
    // scrolling area as large as the room.
    auto* scroll = new QScrollArea(dialog);
    scroll->setObjectName(QStringLiteral("DialogScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* form = new QWidget(scroll);
    form->setFixedSize(fixed);
    const QObjectList children = dialog->children();
    for (QObject* child : children) {
      auto* widget = qobject_cast<QWidget*>(child);
      if (widget == nullptr || widget == scroll || widget->isWindow()) continue;
      const QRect at = widget->geometry();
      const bool shown = !widget->isHidden();
      widget->setParent(form);
      widget->setGeometry(at);
      widget->setVisible(shown);
    }
    scroll->setWidget(form);
    dialog->setFixedSize(fixed.boundedTo(room));
    scroll->setGeometry(dialog->rect());
  }
  const QPoint centre = owner != nullptr && owner->isVisible()
                            ? owner->frameGeometry().center()
                            : dialog->screen()->availableGeometry().center();
  const QSize outer = dialog->size() + frame;
  KeepOnScreen(dialog, centre - QPoint(outer.width() / 2, outer.height() / 2), frame);
}

FocusReturn::FocusReturn(QWidget* window)
    : window_(window ? window->window() : nullptr),
      focus_(window_ ? window_->focusWidget() : nullptr) {}

FocusReturn::~FocusReturn() {
  // A window that closed meanwhile (the question was whether to close it) wants nothing back.
  if (window_ == nullptr || !window_->isVisible()) return;
  window_->activateWindow();
  if (focus_ != nullptr && focus_->isEnabled()) focus_->setFocus(Qt::OtherFocusReason);
}

void ShrinkUntilCaptionsFit(QWidget* form, const std::function<void()>& layout) {
  layout();
  for (int step = 0; step < 8 && !CaptionsFit(form); ++step) {
    if (form->font().pointSizeF() <= kSmallestPoint) break;
    ScaleFonts(form, (form->font().pointSizeF() - 0.5) / form->font().pointSizeF());
    layout();
  }
}

}  // namespace tovrel::app
