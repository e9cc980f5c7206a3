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
#include "app/app_errors.h"
#include "app/form_style.h"
#include "app/message_box.h"
#include "app/text_rules.h"
#include "app/texts.h"
#include "http/http_client.h"
#include "http/http_error.h"
#include "message/string_helpers.h"

namespace tovrel::app {
namespace {

namespace h = help_texts;

// The update file is a single word; a server sending more is misbehaving, and one mebibyte is
// far beyond any honest answer.
constexpr std::int64_t kMaxUpdateBody = 1 << 20;
constexpr int kUpdateTimeOut = 7500;
constexpr int kUpdateReportLevel = 2;
constexpr int kHttpOk = 200;

// The status of the reply as its status line gives it ("404 Not Found"), without the version.
std::string ReplyStatus(const http::HttpClient& http) {
  const std::string& header = http.header();
  std::string line = header.substr(0, header.find_first_of("\r\n"));
  const std::size_t blank = line.find(' ');
  line = blank == std::string::npos ? std::string() : line.substr(blank + 1);
  return line.empty() ? std::to_string(http.reply_number()) : line;
}

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
  try {
    http.Get(UpdateUrl(host));
  } catch (const http::UnreachableError& error) {
    // The socket's own words ("Null Remote Address") tell a person offline nothing.
    throw AppError(ErrorReportText(error.what()) + "\n" +
                   message::FormatText(h::kUpdateServerUnreachable, {VisibleText(host)}));
  }
  // An error page is no verdict on the version: it would read as "no updates".
  if (http.reply_number() != kHttpOk) {
    ShowMessageBox(parent,
                   message::FormatText(h::kUpdateCheckFailed, {VisibleText(ReplyStatus(http))}),
                   texts::kApplicationTitle, QMessageBox::Critical);
    return;
  }
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
