// The application tests drive real widgets, so they need one QApplication for the whole run; on a
// machine without a display they use Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setApplicationName("TovrelMail");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
