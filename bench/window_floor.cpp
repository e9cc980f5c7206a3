// The window floor of the benchmarks: the least Qt Widgets program with a window like the compose
// window's, a main window with a menu bar, five line edits, a combo box, a list, a text box and
// two buttons, and nothing behind them (no settings read, no translations, spelling or
// completion). tovrel_window_watch times it from outside, from exec to the window mapped and first
// painted, as it times TovrelMail's compose window.
//
// Usage: tovrel_window_floor (runs until it is closed or killed)

#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QMainWindow window;
  window.setWindowTitle("Window floor");
  QMenu* file = window.menuBar()->addMenu("&File");
  file->addAction("&Quit", &application, &QApplication::quit);
  window.menuBar()->addMenu("&Edit");
  window.menuBar()->addMenu("&Help");

  auto* central = new QWidget(&window);
  auto* column = new QVBoxLayout(central);
  auto* form = new QFormLayout;
  form->addRow("From", new QComboBox(central));
  for (const char* label : {"To", "Cc", "Bcc", "Reply-To", "Subject"}) {
    form->addRow(label, new QLineEdit(central));
  }
  column->addLayout(form);
  auto* list = new QListWidget(central);
  list->addItems({"first attachment", "second attachment"});
  column->addWidget(list);
  column->addWidget(new QTextEdit(central), 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(new QPushButton("Attach", central));
  buttons->addWidget(new QPushButton("Send", central));
  column->addLayout(buttons);
  window.setCentralWidget(central);
  window.resize(640, 480);
  window.show();
  return QApplication::exec();
}
