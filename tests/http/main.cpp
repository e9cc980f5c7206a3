#include <gtest/gtest.h>

#include <QCoreApplication>

// The client waits by serving the event queue, so every test runs inside a core application.
int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
