#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace tovrel::app {

// The About box: product name, version, the maker's notice and a link to the web site. It holds
// no state; the program makes one and shows it modally on demand.
class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);
  ~AboutBox() override;

  // The web link: opens the site's home page.
  void Label3Click();
  // OK: closes the box.
  void Button1Click();

 private:
  void BuildControls();
  void LayoutLabels();

  QFrame* panel1_ = nullptr;
  QLabel* product_name_ = nullptr;
  QLabel* label1_ = nullptr;
  QLabel* notice_ = nullptr;
  QLabel* label3_ = nullptr;
  QPushButton* button1_ = nullptr;
};

}  // namespace tovrel::app
