#pragma once

#include <QListWidget>
#include <string>
#include <vector>

namespace tovrel::app {

// The list of files to attach, one line high at the described size and more when the window is
// enlarged. Each item shows its path shortened in the middle to the width of the box, with the
// whole path as its tool tip; Up and Down and the mouse wheel step from one item to the next,
// Delete removes the selected one. A path is kept as the bytes
// the system named it with: shown text cannot carry every byte a file name may hold.
class AttachmentList : public QListWidget {
  Q_OBJECT

 public:
  explicit AttachmentList(QWidget* parent = nullptr);

  void AddPath(const std::string& path);
  // The paths of every item, first to last.
  std::vector<std::string> Paths() const;
  // "3 files, 12.4 MB": the count and the size the files had when added; empty without files.
  std::string Summary() const;
  // Whether the box has room for one item only (its described size).
  bool OneLine() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void StepTo(int row);

  int wheel_angle_ = 0;  // turned but not yet a whole step
};

}  // namespace tovrel::app
