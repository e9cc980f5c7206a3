#include "app/attachment_list.h"

#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <QWheelEvent>
#include <algorithm>
#include <memory>

#include "app/qt_text.h"
#include "app/text_rules.h"

namespace tovrel::app {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kWheelStep = 120;  // one notch of a mouse wheel, in eighths of a degree

// Each item fills the box: as wide as it, so that a long path is shortened rather than pushed
// out of sight behind a scroll bar, and as high, so that one whole item is in view, never the
// halves of two.
class BoxSizedItems : public QStyledItemDelegate {
 public:
  explicit BoxSizedItems(QListWidget* list) : QStyledItemDelegate(list), list_(list) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QSize text = QStyledItemDelegate::sizeHint(option, index);
    return {list_->viewport()->width(), std::max(text.height(), list_->viewport()->height())};
  }

 private:
  QListWidget* list_;
};

}  // namespace

AttachmentList::AttachmentList(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new BoxSizedItems(this));
  setTextElideMode(Qt::ElideMiddle);
  setWordWrap(false);
  setResizeMode(QListView::Adjust);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // One line has no room for a vertical bar either; the keys and the wheel step through.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

void AttachmentList::AddPath(const std::string& path) {
  // Control characters in a file name are not for the screen.
  const QString shown = FromText(VisibleText(path));
  auto* item = new QListWidgetItem(shown, this);
  item->setToolTip(shown);
  item->setData(kPathRole, QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::vector<std::string> AttachmentList::Paths() const {
  std::vector<std::string> paths;
  paths.reserve(static_cast<std::size_t>(count()));
  for (int row = 0; row < count(); ++row) {
    const QListWidgetItem* entry = item(row);
    const QVariant bytes = entry->data(kPathRole);
    if (bytes.isValid()) {
      const QByteArray path = bytes.toByteArray();
      paths.emplace_back(path.constData(), static_cast<std::size_t>(path.size()));
    } else {
      paths.push_back(ToText(entry->text()));
    }
  }
  return paths;
}

void AttachmentList::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Delete || event->modifiers() != Qt::NoModifier) {
    QListWidget::keyPressEvent(event);
    return;
  }
  const QList<QListWidgetItem*> selected = selectedItems();
  if (selected.isEmpty()) {
    event->ignore();
    return;
  }
  const int row = this->row(selected.front());
  std::unique_ptr<QListWidgetItem> removed(takeItem(row));
  if (count() > 0) StepTo(std::min(row, count() - 1));
}

void AttachmentList::wheelEvent(QWheelEvent* event) {
  if (count() == 0) {
    event->ignore();
    return;
  }
  wheel_angle_ += event->angleDelta().y();
  const int steps = wheel_angle_ / kWheelStep;
  wheel_angle_ -= steps * kWheelStep;
  // Turning the wheel away from oneself goes up the list.
  if (steps != 0) StepTo(std::clamp(std::max(currentRow(), 0) - steps, 0, count() - 1));
  event->accept();
}

void AttachmentList::StepTo(int row) {
  setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
  scrollToItem(item(row), QAbstractItemView::PositionAtTop);
}

}  // namespace tovrel::app
