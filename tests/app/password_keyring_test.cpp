#include "app/password_keyring.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAction>
#include <QLabel>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "app/compose_window.h"
#include "app/send_command.h"
#include "app/settings_dialog.h"
#include "app/settings_layout.h"
#include "app_fixture.h"
#include "gui_helpers.h"
#include "keyring_daemon.h"
#include "net/smtp_client.h"
#include "support/test_support.h"

namespace tovrel::app {
namespace {

using test::ModalAnswerer;

constexpr const char* kInKeyring = "The password is kept in the keyring.";
constexpr const char* kInFile =
    "No keyring is available: the password is kept in the settings file.";

class PasswordPlaceTest : public test::AppTest {
 protected:
  // A stored account on a local server, its login and password as given.
  void UseServer(int port, const std::string& user, const std::string& password) {
    StoreAccount("Jane", "jane@example.org");
    Store("smtp", "smtp", "127.0.0.1");
    Store("port", "port", std::to_string(port));
    Store("username", "username", user);
    Store("password", "password", password);
  }
  // Opens the settings dialog from the menu, lets `inside` work in it and presses OK.
  void OkInSettings(ComposeWindow& window, const std::function<void(QWidget*)>& inside) {
    ModalAnswerer answer;
    answer.Then([&](QWidget* dialog) {
      inside(dialog);
      QTest::mouseClick(Find<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    });
    Find<QAction>(&window, "Settings1")->trigger();
  }
  static void Type(QWidget* dialog, const char* field, const QString& text) {
    auto* edit = Find<QLineEdit>(dialog, field);
    edit->clear();
    QTest::keyClicks(edit, text);
  }
  static std::string PlaceLine(QWidget* dialog) {
    return Text(Find<QLabel>(dialog, "PasswordPlaceLabel")->text());
  }
  void SendOne(const std::string& subject) {
    DeliverMail({.from = "Jane,jane@example.org", .to = "ann@example.org", .subject = subject},
                ReadAccount(store_, ProgramKeyring()), smtp_);
  }

  net::SmtpClient smtp_;
};

// With no session bus (the test program has none), everything is as it always was.
TEST_F(PasswordPlaceTest, WithoutABusThePasswordStaysInTheSettingsFileAndTheDialogSaysSo) {
  ASSERT_EQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr);
  test::AiosmtpdServer server({.user = "jane", .password = "pw one"});
  UseServer(server.port(), "jane", "old");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  OkInSettings(window, [&](QWidget* d) {
    EXPECT_EQ(PlaceLine(d), kInFile);
    EXPECT_TRUE(Find<QLabel>(d, "PasswordPlaceLabel")->isVisible());
    test::SaveGrab(d, "settings_dialog_no_keyring");
    Type(d, "PasswordBox", "pw one");
  });
  EXPECT_EQ(Stored("password", "password"), "pw one");
  SendOne("from the file");
  ASSERT_EQ(server.WaitForMessages(1).at(0).auth_user, "jane");
}

// A keyring that is there but will not take the password (locked, its prompt dismissed).
class RefusingKeyring : public PasswordKeyring {
 public:
  KeyringLookup Find(const KeyringAccount&) override {
    return {.answered = true, .password = std::nullopt};
  }
  KeyringAnswer Store(const KeyringAccount&, std::string_view) override {
    return KeyringAnswer::kaRefused;
  }
  KeyringAnswer Remove(const KeyringAccount& account) override {
    removed.push_back(account);
    return KeyringAnswer::kaDone;
  }
  std::vector<KeyringAccount> removed;
};

TEST_F(PasswordPlaceTest, AKeyringThatRefusesLeavesThePasswordInTheSettingsFile) {
  RefusingKeyring keyring;
  SetProgramKeyring(&keyring);
  UseServer(25, "jane", "old");
  {
    ComposeWindow window;
    SettingsDialog dialog(&window);
    window.set_settings_dialog(&dialog);
    OkInSettings(window, [&](QWidget* d) { Type(d, "PasswordBox", "new"); });
  }
  SetProgramKeyring(nullptr);
  EXPECT_EQ(Stored("password", "password"), "new");
  // An older entry of the account would be read before the file, and must go.
  EXPECT_EQ(keyring.removed,
            (std::vector<KeyringAccount>{{.server = "127.0.0.1", .user = "jane"}}));
}

// Nothing serves behind the bus address: the system takes the connection, but nobody ever
// answers on it. The program, run without a display as a script runs it, gives the keyring up
// and sends with the password of the settings file.
TEST_F(PasswordPlaceTest, ABusThatNeverAnswersIsGivenUpAndTheUnattendedSendGoesOn) {
  test::TempDir dir;
  const std::string path = dir.File("bus");
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 8), 0);
  test::AiosmtpdServer server({.user = "jane", .password = "pw"});
  UseServer(server.port(), "jane", "pw");
  const test::ProcessResult run = test::RunProcess(
      {test::BuildPath("tovrelmail"), "mailto:ann@example.org", "Unattended", "b", "send"}, {},
      {home_.env(), "DBUS_SESSION_BUS_ADDRESS=unix:path=" + path,
       "DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="},
      std::chrono::seconds(60));
  close(listener);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(server.WaitForMessages(1).at(0).auth_user, "jane");
}

// A private bus with GNOME Keyring on it, for as long as the test runs.
class SecretServiceTest : public PasswordPlaceTest {
 protected:
  SecretServiceTest() : daemon_(test::KeyringDaemon::Shared()) {
    daemon_.Clear();
    setenv("DBUS_SESSION_BUS_ADDRESS", daemon_.address().c_str(), 1);
  }
  ~SecretServiceTest() override { unsetenv("DBUS_SESSION_BUS_ADDRESS"); }

  test::KeyringDaemon& daemon_;
};

TEST_F(SecretServiceTest, EntriesAreKeptPerServerAndUserName) {
  SecretServiceKeyring keyring;
  const KeyringAccount jane{.server = "mail.example.org", .user = "jane"};
  EXPECT_EQ(keyring.Store(jane, "first"), KeyringAnswer::kaDone);
  EXPECT_EQ(keyring.Store(jane, "pa\xc3\x9f word"), KeyringAnswer::kaDone);  // replaces
  EXPECT_EQ(daemon_.Lookup("mail.example.org", "jane"), "pa\xc3\x9f word");
  const KeyringLookup found = keyring.Find(jane);
  EXPECT_TRUE(found.answered);
  EXPECT_EQ(found.password, "pa\xc3\x9f word");
  const KeyringLookup other = keyring.Find({.server = "mail.example.org", .user = "joe"});
  EXPECT_TRUE(other.answered);
  EXPECT_EQ(other.password, std::nullopt);
  // A name the bus cannot carry has no entry, and nothing is asked.
  EXPECT_EQ(keyring.Store({.server = "mail\xff", .user = "jane"}, "x"), KeyringAnswer::kaNoKeyring);

  EXPECT_EQ(keyring.Remove(jane), KeyringAnswer::kaDone);
  EXPECT_EQ(keyring.Remove(jane), KeyringAnswer::kaDone);  // nothing left is no refusal
  EXPECT_EQ(daemon_.Lookup("mail.example.org", "jane"), std::nullopt);
  EXPECT_EQ(keyring.Find(jane).password, std::nullopt);
}

TEST_F(SecretServiceTest, OkMovesThePasswordIntoTheKeyringAndEverySendLogsInWithIt) {
  test::AiosmtpdServer server({.user = "jane", .password = "s3cret pass"});
  UseServer(server.port(), "jane", "old");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  OkInSettings(window, [&](QWidget* d) {
    EXPECT_EQ(PlaceLine(d), kInKeyring);
    test::SaveGrab(d, "settings_dialog_keyring");
    // Nothing in the keyring yet: what the file holds.
    EXPECT_EQ(Text(Find<QLineEdit>(d, "PasswordBox")->text()), "old");
    Type(d, "PasswordBox", "s3cret pass");
  });
  EXPECT_EQ(Stored("password", "password"), "None");
  EXPECT_EQ(test::ReadFile(home_.store_file()).find("s3cret"), std::string::npos);
  EXPECT_EQ(daemon_.Lookup("127.0.0.1", "jane"), "s3cret pass");

  // The program run without a display, as a script runs it.
  const test::ProcessResult run = test::RunProcess(
      {test::BuildPath("tovrelmail"), "mailto:ann@example.org", "Unattended", "b", "send"}, {},
      {home_.env(), daemon_.env(), "DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="},
      std::chrono::seconds(60));
  EXPECT_EQ(run.exit_status, 0) << run.err;
  SendOne("From the window");
  const auto mails = server.WaitForMessages(2);
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].auth_user, "jane");
  EXPECT_EQ(mails[1].auth_user, "jane");

  // Shown from the keyring; an account moved to another server takes its entry along.
  OkInSettings(window, [&](QWidget* d) {
    EXPECT_EQ(Text(Find<QLineEdit>(d, "PasswordBox")->text()), "s3cret pass");
    Type(d, "SMTPServerBox", "localhost");
  });
  EXPECT_EQ(daemon_.Lookup("localhost", "jane"), "s3cret pass");
  EXPECT_EQ(daemon_.Lookup("127.0.0.1", "jane"), std::nullopt);

  // An emptied password is kept nowhere.
  OkInSettings(window, [&](QWidget* d) { Type(d, "PasswordBox", ""); });
  EXPECT_EQ(daemon_.Lookup("localhost", "jane"), std::nullopt);
  EXPECT_EQ(Stored("password", "password"), "");
}

TEST_F(SecretServiceTest, ASettingsFileWithAPasswordKeepsWorkingAsItIs) {
  test::AiosmtpdServer server({.user = "jane", .password = "pw"});
  UseServer(server.port(), "jane", "pw");
  const std::string before = test::ReadFile(home_.store_file());
  SendOne("old file");
  EXPECT_EQ(server.WaitForMessages(1).at(0).auth_user, "jane");
  EXPECT_EQ(test::ReadFile(home_.store_file()), before);
  EXPECT_EQ(daemon_.Lookup("127.0.0.1", "jane"), std::nullopt);
}

}  // namespace
}  // namespace tovrel::app
