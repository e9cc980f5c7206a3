#include "app/program.h"

#include <QApplication>

#include "app/texts.h"

namespace tovrel {

int RunProgram(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(texts::kApplicationTitle);
  return 0;
}

}  // namespace tovrel
