#include "app/attachment_list.h"

#include <QKeyEvent>
#include <QResizeEvent>
#include <QStyledItemDelegate>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/qt_text.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "message/string_helpers.h"

namespace tovrel::app {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kSizeRole = Qt::UserRole + 1;
constexpr int kWheelStep = 120;  // one notch of a mouse wheel, in eighths of a degree

// Each item is as wide as the box, so that a long path is shortened rather than pushed out of
// sight behind a scroll bar. In a box of one line an item is as high as the box, so that one
// whole item is in view, never the halves of two; a taller box shows one line per item.
class BoxSizedItems : public QStyledItemDelegate {
 public:
  explicit BoxSizedItems(AttachmentList* list) : QStyledItemDelegate(list), list_(list) {}

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int line = QStyledItemDelegate::sizeHint(option, index).height();
    const int box = list_->viewport()->height();
    return {list_->viewport()->width(), list_->OneLine() ? std::max(line, box) : line};
  }

 private:
  AttachmentList* list_;
};

// Decimal units, as file managers show sizes: one digit after the point.
std::string SizeText(std::uint64_t bytes) {
  if (bytes < 1000) return message::FormatText(texts::kBytes, {std::to_string(bytes)});
  constexpr std::array<const char*, 4> kUnits = {"KB", "MB", "GB", "TB"};
  std::size_t unit = 0;
  std::uint64_t scale = 1000;
  // Rounded to tenths, 999,950 bytes would read "1000.0 KB".
  while (unit + 1 < kUnits.size() && bytes >= scale * 1000 - scale / 20) {
    scale *= 1000;
    ++unit;
  }
  const double value = static_cast<double>(bytes) / static_cast<double>(scale);
  std::array<char, 32> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value,
                                 std::chars_format::fixed, 1);
  return std::string(digits.data(), end.ptr) + " " + kUnits[unit];
}

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
  auto item = std::make_unique<QListWidgetItem>(shown);
  item->setToolTip(shown);
  item->setData(kPathRole, QByteArray(path.data(), static_cast<qsizetype>(path.size())));
  // A file that is not there (yet) counts without a size; the send reports it.
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  item->setData(kSizeRole, error ? qulonglong{0} : qulonglong{size});
  // Whole before the list announces it, so that whoever counts the sizes sees this one's.
  addItem(item.release());
}

std::string AttachmentList::Summary() const {
  if (count() == 0) return {};
  std::uint64_t total = 0;
  for (int row = 0; row < count(); ++row) total += item(row)->data(kSizeRole).toULongLong();
  if (count() == 1) return message::FormatText(texts::kOneAttachment, {SizeText(total)});
  return message::FormatText(texts::kAttachments, {std::to_string(count()), SizeText(total)});
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

void AttachmentList::resizeEvent(QResizeEvent* event) {
  QListWidget::resizeEvent(event);
  // A box of several lines has room for a bar that shows how far down the list it is.
  setVerticalScrollBarPolicy(OneLine() ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
  scheduleDelayedItemsLayout();  // the items' height follows the box's
}

bool AttachmentList::OneLine() const {
  constexpr int kItemMargins = 4;
  return viewport()->height() < 2 * (fontMetrics().height() + kItemMargins);
}

void AttachmentList::StepTo(int row) {
  setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
  scrollToItem(item(row),
               OneLine() ? QAbstractItemView::PositionAtTop : QAbstractItemView::EnsureVisible);
}

}  // namespace tovrel::app
