// The application tests drive real widgets, so they need one QApplication for the whole run; on a
// machine without a display they use Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The offscreen platform warns about window features it lacks; that noise hides real output.
void QuietOffscreenNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtWarningMsg && message.contains(QLatin1String("This plugin does not support"))) {
    return;
  }
  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// Spool files go to $TMPDIR, which other test programs running at the same time share; a folder
// of this program's own lets a test see that a send left none behind.
class OwnTempFolder {
 public:
  OwnTempFolder() {
    const char* env = std::getenv("TMPDIR");
    std::string pattern =
        std::string(env != nullptr && *env != '\0' ? env : "/tmp") + "/tovrel-app-tests-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
      ::setenv("TMPDIR", path_.c_str(), 1);
    }
  }
  ~OwnTempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  OwnTempFolder(const OwnTempFolder&) = delete;
  OwnTempFolder& operator=(const OwnTempFolder&) = delete;

 private:
  std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The keyring of the desktop the tests are started from is never touched: tests that want one
  // start a private bus with a keyring of their own.
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  qInstallMessageHandler(QuietOffscreenNotes);
  const OwnTempFolder temp_folder;
  QApplication app(argc, argv);
  QApplication::setApplicationName("TovrelMail");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
