// The Help menu's commands in a real window on the offscreen platform: the update check against
// scripted and real HTTP servers on loopback, the boxes it shows, and the pages it opens.

#include "app/help_commands.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "app/compose_window.h"
#include "app/error_report.h"
#include "app/program.h"
#include "app/settings_layout.h"
#include "app_fixture.h"
#include "gui_helpers.h"
#include "http/http_client.h"
#include "http/socket_helpers.h"
#include "support/scripted_http_server.h"
#include "support/test_support.h"

namespace tovrel::app {
namespace {

using test::HttpReply;
using test::ScriptedServer;
using test::SeenBox;

constexpr const char* kProductPage = "http://www.tovrel.example/tovrelmail.htm";

std::string Reply(const std::string& body, const std::string& headers = "") {
  return HttpReply("HTTP/1.0 200 OK", headers, body);
}

class HelpCommandsTest : public test::AppTest {
 protected:
  HelpCommandsTest() {
    StoreAccount("Jane Doe", "jane@example.org");
    SetUrlOpener([this](const QUrl& url) { opened_.push_back(url.toString().toStdString()); });
    window_.show();
    test::WaitFor([this] { return window_.isVisible(); });
  }
  ~HelpCommandsTest() override { SetUrlOpener({}); }

  // The Check for updates command as the menu runs it: failures go to the default error report.
  void Check(const std::string& host) {
    RunReported([&] { CheckForUpdates(&window_, http_, host); }, &window_);
  }

  ComposeWindow window_;
  http::HttpClient http_;
  std::vector<std::string> opened_;
  std::vector<SeenBox> boxes_;
};

TEST_F(HelpCommandsTest, ExactlyNewAsksWhetherToKnowMore) {
  ScriptedServer server{{.reply = Reply("new")}, {.reply = Reply("new")}};
  {
    test::ModalAnswerer answerer;
    answerer.Then(test::AnswerBox(&boxes_, QMessageBox::No));
    Check(server.Url(""));
  }
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].title, "Checking for updates");
  EXPECT_EQ(boxes_[0].text, "Update Available. Do you want to know more?");
  EXPECT_EQ(boxes_[0].icon, QMessageBox::Question);
  EXPECT_TRUE(opened_.empty());  // No opens nothing
  EXPECT_EQ(server.NextRequest().rfind("GET /updates/tovrelmail33.upd HTTP/1.0\r\n", 0), 0u);

  test::ModalAnswerer answerer;
  answerer.Then(test::AnswerBox(&boxes_, QMessageBox::Yes));
  Check(server.Url(""));
  EXPECT_EQ(opened_, std::vector<std::string>{kProductPage});
}

TEST_F(HelpCommandsTest, AnyOtherBodySaysNoUpdates) {
  for (const std::string& body : {std::string("new\r\n"), std::string("new\n"), std::string("NEW"),
                                  std::string(""), std::string(" new"), std::string("newer")}) {
    ScriptedServer server{{.reply = Reply(body)}};
    std::vector<SeenBox> boxes;
    {
      test::ModalAnswerer answerer;
      answerer.Then(test::AnswerBox(&boxes));
      Check(server.Url(""));
    }
    ASSERT_EQ(boxes.size(), 1u) << body;
    EXPECT_EQ(boxes[0].text, "No updates available.") << body;
    EXPECT_EQ(boxes[0].title, "") << body;
    EXPECT_EQ(boxes[0].icon, QMessageBox::Question) << body;
  }
  EXPECT_TRUE(opened_.empty());
}

TEST_F(HelpCommandsTest, CookieIsShownBeforeTheVerdict) {
  ScriptedServer server{{.reply = Reply("new", "Set-Cookie: visitor=7; path=/\r\n")}};
  {
    test::ModalAnswerer answerer;
    answerer.Then(test::AnswerBox(&boxes_)).Then(test::AnswerBox(&boxes_, QMessageBox::No));
    Check(server.Url(""));
  }
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].text, "Cookie:/nvisitor=7; path=/");
  EXPECT_EQ(boxes_[0].title, "TovrelMail");
  EXPECT_EQ(boxes_[1].text, "Update Available. Do you want to know more?");
}

TEST_F(HelpCommandsTest, RedirectedCheckFollowsToTheVerdict) {
  ScriptedServer server{
      {.reply = HttpReply("HTTP/1.0 302 Found", "Location: /mirror/tovrelmail33.upd\r\n", "")},
      {.reply = Reply("new")}};
  {
    test::ModalAnswerer answerer;
    answerer.Then(test::AnswerBox(&boxes_, QMessageBox::No));
    Check(server.Url(""));
  }
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].title, "Checking for updates");
}

// A server not reached says so on a line of its own; an error page is a failed check, not "no
// updates".
TEST_F(HelpCommandsTest, FailuresReachTheDefaultErrorReport) {
  ScriptedServer oversized{{.reply = Reply(std::string((1 << 20) + 1, 'n'))}};
  ScriptedServer missing{{.reply = HttpReply("HTTP/1.0 404 Not Found", "", "new")}};
  const std::string refused = "127.0.0.1:" + std::to_string(test::RefusedPort());
  const std::string unreached = " could not be reached.";
  const struct {
    std::string host;
    std::string shown;
  } cases[] = {
      {refused, "Connection Failed.\nThe update server " + refused + unreached},
      {test::kUnresolvableHost,
       "Null Remote Address.\nThe update server " + test::kUnresolvableHost + unreached},
      {oversized.Url(""), "Reply body larger than the allowed 1048576 bytes."},
      {missing.Url(""), "The update check failed: HTTP 404 Not Found"},
  };
  for (const auto& c : cases) {
    std::vector<SeenBox> boxes;
    {
      test::ModalAnswerer answerer;
      answerer.Then(test::AnswerBox(&boxes));
      Check(c.host);
    }
    ASSERT_EQ(boxes.size(), 1u) << c.host;  // no verdict box after a failure
    EXPECT_EQ(boxes[0].text.toStdString(), c.shown);
    EXPECT_EQ(boxes[0].title, "TovrelMail");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
  }
}

TEST_F(HelpCommandsTest, WindowTakesInputWhileTheServerDelays) {
  ScriptedServer server{{.reply = Reply("NEW"), .delay = 1.0}};
  auto* to_box = Find<QLineEdit>(&window_, "ToBox");
  ASSERT_NE(to_box, nullptr);
  bool typed_during_check = false;
  int nested_boxes = -1;
  QTimer::singleShot(200, &window_, [&] {
    to_box->setFocus();
    QTest::keyClicks(to_box, "bob@example.org");
    typed_during_check = http_.busy();
    // The user asks again meanwhile: the running check will answer, nothing else happens.
    const std::size_t before = boxes_.size();
    Check(server.Url(""));
    nested_boxes = int(boxes_.size() - before);
  });
  {
    test::ModalAnswerer answerer;
    answerer.Then(test::AnswerBox(&boxes_));
    Check(server.Url(""));
  }
  EXPECT_TRUE(typed_during_check);
  EXPECT_EQ(nested_boxes, 0);
  EXPECT_EQ(to_box->text(), "bob@example.org");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "No updates available.");
  test::SaveGrab(&window_, "update_check_window");
}

TEST_F(HelpCommandsTest, UpdateHostComesFromTheStore) {
  EXPECT_EQ(UpdateHost(store_), "www.tovrel.example");
  Store("update", "host", "");
  EXPECT_EQ(UpdateHost(store_), "www.tovrel.example");
  Store("update", "host", "127.0.0.1:8123");
  EXPECT_EQ(UpdateHost(store_), "127.0.0.1:8123");
}

// A bare IPv6 address is an address without a port and is put in brackets; a host with a port,
// or an address already in brackets, is used as stored.
TEST_F(HelpCommandsTest, ABareIpv6HostIsBracketedInTheUrl) {
  const std::string path = "/updates/tovrelmail33.upd";
  const struct {
    const char* host;
    const char* url_host;
  } cases[] = {
      {"::1", "[::1]"},
      {"2001:db8::1", "[2001:db8::1]"},
      {"[::1]", "[::1]"},
      {"[::1]:8080", "[::1]:8080"},
      {"127.0.0.1:8123", "127.0.0.1:8123"},
      {"www.tovrel.example", "www.tovrel.example"},
  };
  for (const auto& c : cases) EXPECT_EQ(UpdateUrl(c.host), c.url_host + path);

  // The check asks the address itself on the default port (whatever answers there, if anything,
  // its box is closed).
  test::ModalAnswerer answerer;
  answerer.Then([](QWidget* modal) { modal->close(); });
  Check("::1");
  EXPECT_EQ(http_.host(), "::1");
  EXPECT_EQ(http_.port(), 80);
}

TEST_F(HelpCommandsTest, RealServerNamedInTheStore) {
  test::TempDir root;
  std::filesystem::create_directories(root.File("updates"));
  test::WriteFile(root.File("updates/tovrelmail33.upd"), "new");
  test::ChildProcess server({test::kPython, "-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
                             "--directory", root.path()});
  const std::string banner = server.ReadLine();
  const std::string port = std::to_string(std::stoi(banner.substr(banner.find(" port ") + 6)));
  Store("update", "host", "127.0.0.1:" + port);
  {
    test::ModalAnswerer answerer;
    answerer.Then(test::AnswerBox(&boxes_, QMessageBox::Yes));
    Check(UpdateHost(store_));
  }
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Update Available. Do you want to know more?");
  EXPECT_EQ(opened_, std::vector<std::string>{kProductPage});
}

TEST_F(HelpCommandsTest, PortOfAnEarlierHostDoesNotStick) {
  ScriptedServer server{{.reply = Reply("NEW")}};
  {
    test::ModalAnswerer answerer;
    answerer.Then(test::AnswerBox(&boxes_));
    Check(server.Url(""));
  }
  EXPECT_EQ(http_.port(), server.port());
  {
    // Whatever answers on port 80 of this machine (nothing, usually), close its box.
    test::ModalAnswerer answerer;
    answerer.Then([](QWidget* modal) { modal->close(); });
    Check("127.0.0.1");
  }
  EXPECT_EQ(http_.port(), 80);
}

TEST_F(HelpCommandsTest, HelpOpensTheGuideOfTheCurrentFolder) {
  test::TempDir dir;
  test::WriteFile(dir.File("manual.htm"), "<html></html>");
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.path())));
  OpenHelpFile();
  // F1 in the window opens it as Help > Help does.
  QApplication::setActiveWindow(&window_);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  QTest::keyClick(&window_, Qt::Key_F1);
  QDir::setCurrent(before);
  const std::string expected =
      QUrl::fromLocalFile(QString::fromStdString(dir.File("manual.htm"))).toString().toStdString();
  EXPECT_EQ(opened_, std::vector<std::string>(2, expected));
}

TEST_F(HelpCommandsTest, MissingGuideOpensNothing) {
  test::TempDir empty;
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(empty.path())));
  const std::string found = FindHelpFile();
  OpenHelpFile();
  QDir::setCurrent(before);
  // This test program has no guide beside it, so nothing is found and nothing is opened.
  EXPECT_EQ(found, "");
  EXPECT_TRUE(opened_.empty());
}

TEST_F(HelpCommandsTest, FaqOpensTheSupportPage) {
  OpenFaqPage();
  EXPECT_EQ(opened_, std::vector<std::string>{"http://www.tovrel.example/faq.htm"});
}

// The menu items of the program's own windows reach the commands: the update check asks the host
// named in the store, About shows the program's About box, FAQ opens the support page.
TEST_F(HelpCommandsTest, MenuItemsOfTheProgramRunTheirCommands) {
  ScriptedServer server{{.reply = Reply("new")}};
  Store("update", "host", "127.0.0.1:" + std::to_string(server.port()));
  ProgramWindows windows({});
  {
    test::ModalAnswerer answerer;
    answerer.Then(test::AnswerBox(&boxes_, QMessageBox::No));
    Find<QAction>(&windows.compose, "Checkforupdates1")->trigger();
  }
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Update Available. Do you want to know more?");
  EXPECT_EQ(server.NextRequest().rfind("GET /updates/tovrelmail33.upd HTTP/1.0\r\n", 0), 0u);

  QWidget* shown = nullptr;
  {
    test::ModalAnswerer answerer;
    answerer.Then([&shown](QWidget* modal) {
      shown = modal;
      modal->close();
    });
    Find<QAction>(&windows.compose, "About1")->trigger();
  }
  EXPECT_EQ(shown, &windows.about);

  Find<QAction>(&windows.compose, "FAQ1")->trigger();
  EXPECT_EQ(opened_, std::vector<std::string>{"http://www.tovrel.example/faq.htm"});
}

}  // namespace
}  // namespace tovrel::app
