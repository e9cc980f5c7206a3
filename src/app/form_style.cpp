#include "app/form_style.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
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
  const int needed = label->fontMetrics().horizontalAdvance(label->text());
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
  return button->fontMetrics().horizontalAdvance(button->text()) + 8 <= button->width();
}

bool GroupTitleFits(const QGroupBox* box) {
  return box->fontMetrics().horizontalAdvance(box->title()) + 16 <= box->width();
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
  const int width = label->fontMetrics().horizontalAdvance(label->text()) + 1;
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

void ShrinkUntilCaptionsFit(QWidget* form, const std::function<void()>& layout) {
  layout();
  for (int step = 0; step < 8 && !CaptionsFit(form); ++step) {
    if (form->font().pointSizeF() <= kSmallestPoint) break;
    ScaleFonts(form, (form->font().pointSizeF() - 0.5) / form->font().pointSizeF());
    layout();
  }
}

}  // namespace tovrel::app
