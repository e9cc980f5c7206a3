#pragma once

#include <QFont>
#include <QString>
#include <functional>

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

}  // namespace tovrel::app
