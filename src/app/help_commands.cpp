#include "app/help_commands.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QString>
#include <algorithm>
#include <utility>

#include "app/about_box.h"
#include "app/form_style.h"
#include "app/message_box.h"
#include "app/texts.h"
#include "http/http_client.h"

namespace tovrel::app {
namespace {

namespace h = help_texts;

// The update file is a single word; a server sending more is misbehaving, and one mebibyte is
// far beyond any honest answer.
constexpr std::int64_t kMaxUpdateBody = 1 << 20;
constexpr int kUpdateTimeOut = 7500;
constexpr int kUpdateReportLevel = 2;

UrlOpener& Opener() {
  static UrlOpener opener;
  return opener;
}

}  // namespace

void SetUrlOpener(UrlOpener opener) { Opener() = std::move(opener); }

void OpenWithDefaultHandler(const QUrl& url) {
  if (Opener()) {
    Opener()(url);
  } else {
    QDesktopServices::openUrl(url);
  }
}

std::string FindHelpFile() {
  const QString program_dir = QCoreApplication::applicationDirPath();
  const QString candidates[] = {
      QDir::current().filePath(QString::fromLatin1(h::kHelpFile)),
      program_dir + "/" + h::kHelpFile,
      program_dir + "/../share/doc/tovrelmail/" + h::kHelpFile,
  };
  for (const QString& candidate : candidates) {
    const QFileInfo file(candidate);
    if (file.isFile()) return file.absoluteFilePath().toLocal8Bit().toStdString();
  }
  return {};
}

void OpenHelpFile() {
  const std::string path = FindHelpFile();
  if (path.empty()) return;
  OpenWithDefaultHandler(QUrl::fromLocalFile(QString::fromLocal8Bit(path.c_str())));
}

void OpenFaqPage() { OpenWithDefaultHandler(QUrl(QString::fromLatin1(h::kFaqPage))); }

std::string UpdateUrl(const std::string& host) {
  const bool bare_ipv6 =
      std::count(host.begin(), host.end(), ':') > 1 && host.find('[') == std::string::npos;
  return (bare_ipv6 ? "[" + host + "]" : host) + h::kUpdatePath;
}

void CheckForUpdates(QWidget* parent, http::HttpClient& http, const std::string& host) {
  if (http.busy()) return;
  http.set_time_out(kUpdateTimeOut);
  http.set_input_file_mode(false);
  http.set_output_file_mode(false);
  http.set_report_level(kUpdateReportLevel);
  http.set_max_body_size(kMaxUpdateBody);
  // A URL without a port keeps the client's last one; start from the default every time, so a
  // port of an earlier update host does not stick to the next.
  http.set_port(0);
  http.Get(UpdateUrl(host));

  if (!http.cookie_in().empty()) {
    ShowMessageBox(parent, h::kCookiePrefix + http.cookie_in(), texts::kApplicationTitle,
                   QMessageBox::NoIcon);
  }
  if (http.body() != h::kNewVersion) {
    ShowMessageBox(parent, h::kNoUpdates, "", QMessageBox::Question);
    return;
  }
  const auto answer = ShowMessageBox(parent, h::kUpdateAvailable, h::kCheckingTitle,
                                     QMessageBox::Question, QMessageBox::Yes | QMessageBox::No);
  if (answer == QMessageBox::Yes) {
    OpenWithDefaultHandler(QUrl(QString::fromLatin1(h::kProductPage)));
  }
}

void ShowAboutBox(AboutBox& box) {
  PlaceDialog(&box);
  box.exec();
}

}  // namespace tovrel::app
