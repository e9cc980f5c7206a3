// The application tests drive real widgets, so they need one QApplication for the whole run; on a
// machine without a display they use Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/linked_services.h"
#include "support/test_support.h"

namespace {

// The offscreen platform warns about window features it lacks; that noise hides real output.
void QuietOffscreenNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtWarningMsg && message.contains(QLatin1String("This plugin does not support"))) {
    return;
  }
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
  const tovrel::test::OwnTempFolder temp_folder("tovrel-app-tests");
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
    // Beside the usual screen, one as small as 1280 x 800 at twice the scale and one smaller than
    // the Settings dialog, for the windows' fit on small screens.
    const std::string screens = std::filesystem::temp_directory_path() / "screens.json";
    tovrel::test::WriteFile(
        screens, R"({"screens": [{"name": "main", "x": 0, "y": 0, "width": 800, "height": 600},)"
                 R"( {"name": "small", "x": 800, "y": 0, "width": 640, "height": 400},)"
                 R"( {"name": "tiny", "x": 1440, "y": 0, "width": 400, "height": 300}]})");
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens).c_str(), 1);
  }
  // The keyring of the desktop the tests are started from is never touched: tests that want one
  // start a private bus with a keyring of their own.
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  qInstallMessageHandler(QuietOffscreenNotes);
  // The test program is no installed program: it links the services instead of loading them.
  tovrel::app::UseLinkedServices(&tovrel::app::LinkedServices());
  QApplication app(argc, argv);
  QApplication::setApplicationName("TovrelMail");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
