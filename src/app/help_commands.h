#pragma once

#include <QUrl>
#include <functional>
#include <string>

#include "app/texts.h"

class QWidget;

namespace tovrel::http {
class HttpClient;
}

namespace tovrel::app {

class AboutBox;

// How files and web addresses reach the desktop's default handler. Tests put a recorder in
// its place; an empty function restores the desktop's own.
using UrlOpener = std::function<void(const QUrl&)>;
void SetUrlOpener(UrlOpener opener);
// Hands the address to the default handler; whether that works is not reported.
void OpenWithDefaultHandler(const QUrl& url);

// The user guide: "manual.htm" in the current folder, else beside the program, else in the
// installed documentation folder. Empty when there is none.
std::string FindHelpFile();

// Help (and the settings dialog's Help button): opens the user guide; silent when it is missing.
void OpenHelpFile();
// FAQ: opens the support page.
void OpenFaqPage();

// The address of the update file on `host` ("host" or "host:port"). An IPv6 address given bare
// ("::1") is the address alone, its colons being no port, and gets the brackets a URL needs;
// one in brackets ("[::1]" or "[::1]:8080") stays as it is.
std::string UpdateUrl(const std::string& host);

// Check for updates: fetches the update-information file from `host` with `http` and tells the
// user the verdict in message boxes over `parent`. Failures are raised for the default error
// report (a server not reached with a line saying so); a reply other than 200 OK is a failed
// check and says its status. The window keeps working while the client waits; a second request
// while one is running is ignored, as the running one will answer.
void CheckForUpdates(QWidget* parent, http::HttpClient& http, const std::string& host);

// About: shows the About box modally and returns when it is closed.
void ShowAboutBox(AboutBox& box);

}  // namespace tovrel::app
