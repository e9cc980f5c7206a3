#pragma once

#include <QFont>
#include <QPointer>
#include <QString>
#include <functional>

class QDialog;
class QLabel;
class QWidget;

namespace tovrel::app {

// The named family when it is installed, else the system's sans-serif, at the given size.
QFont FormFont(const QString& family, double point_size);
QFont FormFontPixels(const QString& family, int pixel_size);

// The dialogs' own font, "MS Sans Serif" at 8 points.
QFont DialogFont();

// Sets a widget's absolute geometry in its parent.
void Place(QWidget* widget, int left, int top, int width, int height);

// Puts a field label to the left of its field, vertically centred on it: at `left` when the text
// fits there, else moved left as far as `min_left`. The label is sized to its text.
void PlaceLabel(QLabel* label, const QWidget* field, int left, int min_left = 2);

// Whether every caption in `form` (labels, buttons, group box titles) is shown whole: labels fit
// their place left of their field and inside their parent, button and title texts fit their
// widgets, word-wrapped labels fit their height.
bool CaptionsFit(const QWidget* form);

// A substitute font is often wider than the one the form was drawn for. Runs `layout` with the
// form's fonts made smaller in half-point steps until every caption fits (or a floor is hit).
void ShrinkUntilCaptionsFit(QWidget* form, const std::function<void()>& layout);

// A caption as it is shown: its mnemonic marker taken out ("&Send" shows "Send", "&&" shows "&").
QString ShownCaption(const QString& caption);
// `caption` with the mnemonic marker before the first `key` (either case); unchanged when the
// caption has no such letter. The text on the screen stays the same, only the letter is underlined.
QString WithMnemonic(const QString& caption, char key);

// Names every field of `form` after its label (the label's shown text), for screen readers,
// unless the field has a name of its own; an editable combo box's line edit is named too.
void NameFieldsAfterLabels(QWidget* form);

// What the window manager's frame adds to a window's size. Until the window is shown (under X:
// until the window manager has framed it) it is unknown: then that of `framed_like` (a framed
// window whose frame it will share), else a title bar's height.
QSize FrameExtra(const QWidget* window, const QWidget* framed_like = nullptr);
// Moves a window so that its whole frame, title bar included, is on the available part of its
// screen, as near `wanted` (the frame's top left) as that allows.
void KeepOnScreen(QWidget* window, QPoint wanted, QSize frame);
// Centres a dialog over its parent's window and keeps it on the screen. A dialog of fixed size
// larger than the screen's room becomes as large as the room allows and its form scrolls.
void PlaceDialog(QDialog* dialog);

// While a dialog over `window` is open: when it closes, the window gets the keyboard back (a
// window manager may hand it to no window at all) and the focus returns to the widget that had
// it before.
class FocusReturn {
 public:
  explicit FocusReturn(QWidget* window);
  ~FocusReturn();
  FocusReturn(const FocusReturn&) = delete;
  FocusReturn& operator=(const FocusReturn&) = delete;

 private:
  QPointer<QWidget> window_;
  QPointer<QWidget> focus_;
};

}  // namespace tovrel::app
