#include "app/about_box.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <functional>
#include <utility>

#include "app/error_report.h"
#include "app/form_style.h"
#include "app/help_commands.h"

namespace tovrel::app {
namespace {

namespace h = help_texts;

// Outer size 303 x 250 less the window frame, at screen position 191, 115.
constexpr int kClientWidth = 295;
constexpr int kClientHeight = 223;
constexpr int kLeft = 191;
constexpr int kTop = 115;

// A label that acts on a click, as a web link does.
class ClickableLabel : public QLabel {
 public:
  ClickableLabel(const QString& text, QWidget* parent, std::function<void()> on_click)
      : QLabel(text, parent), on_click_(std::move(on_click)) {}

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
      on_click_();
    }
    QLabel::mouseReleaseEvent(event);
  }

 private:
  std::function<void()> on_click_;
};

}  // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutBox"));
  setWindowTitle(QString::fromLatin1(h::kAboutCaption));
  setModal(true);
  BuildControls();
  ShrinkUntilCaptionsFit(this, [this] { LayoutLabels(); });
  setFixedSize(kClientWidth, kClientHeight);
  move(kLeft, kTop);
}

AboutBox::~AboutBox() = default;

void AboutBox::BuildControls() {
  setFont(DialogFont());

  panel1_ = new QFrame(this);
  panel1_->setObjectName(QStringLiteral("Panel1"));
  // Lowered outside, raised inside.
  panel1_->setFrameStyle(QFrame::Box | QFrame::Sunken);
  panel1_->setLineWidth(1);
  Place(panel1_, 8, 8, 281, 161);

  product_name_ = new QLabel(QString::fromLatin1(h::kProductName), panel1_);
  product_name_->setObjectName(QStringLiteral("ProductName"));
  product_name_->setFont(FormFontPixels(QStringLiteral("Times New Roman"), 19));
  Place(product_name_, 16, 8, 113, 21);

  label1_ = new QLabel(QString::fromLatin1(h::kVersion), panel1_);
  label1_->setObjectName(QStringLiteral("Label1"));
  label1_->move(16, 40);

  notice_ = new QLabel(QString::fromLatin1(h::kNotice), panel1_);
  notice_->setObjectName(QStringLiteral("Notice"));
  notice_->setWordWrap(true);
  notice_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Place(notice_, 16, 64, 214, 26);

  label3_ = new ClickableLabel(QString::fromLatin1(h::kSiteLabel), panel1_,
                               [this] { RunReported([this] { Label3Click(); }, this); });
  label3_->setObjectName(QStringLiteral("Label3"));
  QFont link_font = label3_->font();
  link_font.setUnderline(true);
  label3_->setFont(link_font);
  QPalette link_palette = label3_->palette();
  link_palette.setColor(QPalette::WindowText, Qt::blue);
  label3_->setPalette(link_palette);
  label3_->setCursor(Qt::PointingHandCursor);
  Place(label3_, 16, 120, 113, 13);

  button1_ = new QPushButton(QString::fromLatin1(h::kOk), this);
  button1_->setObjectName(QStringLiteral("Button1"));
  button1_->setDefault(true);
  Place(button1_, 104, 176, 75, 25);
  connect(button1_, &QPushButton::clicked, this,
          [this] { RunReported([this] { Button1Click(); }, this); });
}

void AboutBox::LayoutLabels() {
  // Labels without a width of their own take their text's; the link keeps its place and grows
  // to its text when the font is wider than the one it was drawn for.
  label1_->adjustSize();
  const int link_width = label3_->fontMetrics().horizontalAdvance(label3_->text()) + 2;
  label3_->resize(std::max(113, link_width), std::max(13, label3_->sizeHint().height()));
}

void AboutBox::Label3Click() { OpenWithDefaultHandler(QUrl(QString::fromLatin1(h::kHomePage))); }

void AboutBox::Button1Click() { accept(); }

}  // namespace tovrel::app
