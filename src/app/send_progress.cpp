#include "app/send_progress.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "app/texts.h"

namespace tovrel::app {

namespace {

// Steps of the bar: a message of gigabytes needs no more, and counts of that size would not fit
// the bar's int.
constexpr int kSteps = 1000;
// The status bar is 19 pixels high and keeps 3 of them above its items.
constexpr int kControlHeight = 15;
constexpr int kBarWidth = 140;

}  // namespace

SendProgress::SendProgress(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("SendProgress"));
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(4);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("SendProgressBar"));
  bar_->setRange(0, kSteps);
  bar_->setFixedSize(kBarWidth, kControlHeight);
  bar_->setTextVisible(true);
  bar_->setAccessibleName(QString::fromLatin1(texts::kSendProgressName));
  row->addWidget(bar_);
  cancel_ = new QPushButton(QString::fromLatin1(texts::kCancel), this);
  cancel_->setObjectName(QStringLiteral("CancelSendButton"));
  cancel_->setAccessibleName(QString::fromLatin1(texts::kCancel));
  cancel_->setAccessibleDescription(QString::fromLatin1(texts::kCancelSendDescription));
  cancel_->setFixedHeight(kControlHeight);
  // Its own size would be a full button's height; the caption still fits in this one.
  cancel_->setMinimumWidth(cancel_->fontMetrics().horizontalAdvance(cancel_->text()) + 16);
  // Reached with Tab while the fields are locked (Escape cancels from anywhere in the window).
  cancel_->setFocusPolicy(Qt::StrongFocus);
  row->addWidget(cancel_);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    cancel_->setEnabled(false);  // asked once; the send stops at its next turn
    Q_EMIT cancelRequested();
  });
  hide();
}

void SendProgress::Start() {
  total_ = 0;
  bar_->setValue(0);
  cancel_->setEnabled(true);
  show();
}

void SendProgress::SetTotal(int64_t total) {
  total_ = total;
  bar_->setValue(0);
}

void SendProgress::SetDone(int64_t done) {
  if (total_ <= 0) return;
  bar_->setValue(static_cast<int>(std::min<int64_t>(kSteps, done * kSteps / total_)));
}

void SendProgress::Finish() { hide(); }

}  // namespace tovrel::app
