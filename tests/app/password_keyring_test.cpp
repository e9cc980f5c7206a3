#include "app/password_keyring.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>

#include "app/compose_window.h"
#include "app/desktop_session.h"
#include "app/linked_services.h"
#include "app/oauth_token.h"
#include "app/program.h"
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
constexpr const char* kInUserReg = "The password is kept in the settings file (user.reg).";
constexpr const char* kUnreachable =
    "The password is kept in the keyring, which is not available here";

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
  // Opens the settings dialog from the menu, lets `inside` work in it and presses OK (or `button`).
  void OkInSettings(ComposeWindow& window, const std::function<void(QWidget*)>& inside,
                    const char* button = "Button1") {
    ModalAnswerer answer;
    answer.Then([&](QWidget* dialog) {
      // The keyring answers off the window's thread.
      EXPECT_TRUE(test::WaitFor([&] {
        return Find<QLineEdit>(dialog, "PasswordBox")->isEnabled() &&
               PlaceLine(dialog).find("...") == std::string::npos;
      }));
      inside(dialog);
      QTest::mouseClick(Find<QPushButton>(dialog, button), Qt::LeftButton);
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
    // The next opening says where the password went.
    OkInSettings(window, [&](QWidget* d) { EXPECT_EQ(PlaceLine(d), kInUserReg); });
  }
  SetProgramKeyring(nullptr);
  EXPECT_EQ(Stored("password", "password"), "new");
  // An older entry of the account would be read before the file, and must go.
  EXPECT_EQ(keyring.removed,
            (std::vector<KeyringAccount>(2, {.server = "127.0.0.1", .user = "jane"})));
}

// Before there is a password the line says where one typed now would go; once there is one,
// where it is.
TEST_F(PasswordPlaceTest, TheLineSaysWhereAPasswordWouldGoAndWhereItIs) {
  RefusingKeyring keyring;  // answers, and holds nothing
  const std::string to_keyring =
      "No password is stored yet; one typed here will be kept in the keyring.";
  const std::tuple<PasswordKeyring*, const char*, const char*, std::string> cases[] = {
      {&keyring, "file", "", to_keyring},
      {&keyring, "keyring", "", to_keyring},
      {nullptr, "", "",
       "No keyring is available: a password typed here goes to the settings file."},
      {&keyring, "file", "old", kInUserReg},
  };
  ProgramWindows windows({});
  for (const auto& [with_keyring, place, password, shown] : cases) {
    SetProgramKeyring(with_keyring);
    UseServer(25, "jane", password);
    Store("password", "place", place);
    OkInSettings(windows.compose, [&](QWidget* d) { EXPECT_EQ(PlaceLine(d), shown) << place; });
  }
  SetProgramKeyring(nullptr);
}

// The password was put in the keyring, and this run has none: nothing is made up for it. A
// server that takes mail without a login gets it without AUTH; one that wants a login is told
// nothing, and the user is told why.
TEST_F(PasswordPlaceTest, APasswordInAKeyringThatIsNotThereIsNoLogin) {
  for (const bool login_required : {false, true}) {
    SCOPED_TRACE(login_required ? "login required" : "no login required");
    test::AiosmtpdServer server(login_required ? test::AiosmtpdServer::Options{"jane", "pw"}
                                               : test::AiosmtpdServer::Options{});
    UseServer(server.port(), "jane", "");
    Store("password", "place", "keyring");
    try {
      SendOne("no password here");
      EXPECT_FALSE(login_required);
      EXPECT_EQ(server.WaitForMessages(1).at(0).auth_user, "");
    } catch (const std::exception& error) {
      EXPECT_TRUE(login_required);
      EXPECT_EQ(std::string(error.what()), kUnreachable);
    }
    const std::vector<std::string> commands = server.Commands();
    EXPECT_FALSE(commands.empty());
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "AUTH"), 0);
  }
  // Shown as such, and OK without a password typed leaves the keyring's to it.
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  OkInSettings(window, [&](QWidget* d) {
    EXPECT_EQ(PlaceLine(d), std::string(kUnreachable) + ".");
    EXPECT_EQ(Text(Find<QLineEdit>(d, "PasswordBox")->text()), "");
  });
  EXPECT_EQ(Stored("password", "place"), "keyring");
  EXPECT_EQ(Stored("password", "password"), "");
}

// A keyring that keeps each call waiting, as one that asks the user to unlock it does, until
// the window's thread lets it go (20 seconds at most, so that a window not served fails).
class WaitingKeyring : public PasswordKeyring {
 public:
  KeyringLookup Find(const KeyringAccount&) override {
    Wait();
    return {.answered = true, .password = "pw"};
  }
  KeyringAnswer Store(const KeyringAccount&, std::string_view) override {
    Wait();
    return KeyringAnswer::kaDone;
  }
  KeyringAnswer Remove(const KeyringAccount&) override { return KeyringAnswer::kaDone; }
  void LetGo() {
    const std::lock_guard lock(mutex_);
    if (!waiting_ || go_) return;
    go_ = true;
    ++let_go_;
    changed_.notify_all();
  }
  int let_go() {
    const std::lock_guard lock(mutex_);
    return let_go_;
  }

 private:
  void Wait() {
    std::unique_lock lock(mutex_);
    waiting_ = true;
    changed_.wait_for(lock, std::chrono::seconds(20), [this] { return go_; });
    waiting_ = go_ = false;
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  bool waiting_ = false;
  bool go_ = false;
  int let_go_ = 0;
};

// Opening Settings, OK and Send each ask the keyring; the window goes on meanwhile.
TEST_F(PasswordPlaceTest, TheWindowIsServedWhileTheKeyringKeepsItWaiting) {
  WaitingKeyring keyring;
  SetProgramKeyring(&keyring);
  test::AiosmtpdServer server({.user = "jane", .password = "pw"});
  UseServer(server.port(), "jane", "");
  Store("password", "place", "keyring");
  {
    ComposeWindow window;
    SettingsDialog dialog(&window);
    window.set_settings_dialog(&dialog);
    window.show();
    ASSERT_TRUE(test::WaitFor([&] { return Find<QComboBox>(&window, "FromBox")->count() == 1; }));
    QTimer served;
    QObject::connect(&served, &QTimer::timeout, [&] { keyring.LetGo(); });
    served.start(10);
    OkInSettings(window, [&](QWidget* d) {
      EXPECT_EQ(Text(Find<QLineEdit>(d, "PasswordBox")->text()), "pw");
    });
    EXPECT_EQ(keyring.let_go(), 2);
    QTest::keyClicks(Find<QLineEdit>(&window, "ToBox"), "ann@example.org");
    QTest::mouseClick(Find<QPushButton>(&window, "SendButton"), Qt::LeftButton);
  }
  SetProgramKeyring(nullptr);
  EXPECT_EQ(keyring.let_go(), 3);
  EXPECT_EQ(server.WaitForMessages(1).at(0).auth_user, "jane");
}

// A keyring whose stores wait until the test lets them go; lookups answer at once.
class HeldStoreKeyring : public PasswordKeyring {
 public:
  explicit HeldStoreKeyring(std::string password) : password_(std::move(password)) {}
  KeyringLookup Find(const KeyringAccount&) override {
    const std::lock_guard lock(mutex_);
    return {.answered = true, .password = password_};
  }
  KeyringAnswer Store(const KeyringAccount&, std::string_view password) override {
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, std::chrono::seconds(20), [this] { return go_; });
    password_ = std::string(password);
    return KeyringAnswer::kaDone;
  }
  KeyringAnswer Remove(const KeyringAccount&) override { return KeyringAnswer::kaDone; }
  void Release() {
    const std::lock_guard lock(mutex_);
    go_ = true;
    released_.notify_all();
  }

 private:
  std::optional<std::string> password_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool go_ = false;
};

// Settings opened again while a new password is being stored: its lookup waits for the store
// and shows the new password (which a second OK would otherwise overwrite with the old one).
// Windows closed while the keyring still stores: the end waits for the answer, and the settings
// file then says where the password is.
TEST_F(PasswordPlaceTest, KeyringCallsRunInOrderAndAPendingStoreIsRecordedAtTheEnd) {
  for (const bool close_at_once : {false, true}) {
    HeldStoreKeyring keyring("old");
    SetProgramKeyring(&keyring);
    UseServer(25, "jane", "stale");  // an older copy, which the record removes
    Store("password", "place", "keyring");
    std::thread releaser;
    {
      ProgramWindows windows({});
      OkInSettings(  // OK with a new password, then Cancel should the dialog stay
          windows.compose,
          [](QWidget* d) {
            Type(d, "PasswordBox", "new");
            QTest::mouseClick(Find<QPushButton>(d, "Button1"), Qt::LeftButton);
          },
          "Button2");
      releaser = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        keyring.Release();
      });
      if (!close_at_once) {
        OkInSettings(  // and Cancel
            windows.compose,
            [](QWidget* d) { EXPECT_EQ(Text(Find<QLineEdit>(d, "PasswordBox")->text()), "new"); },
            "Button2");
      }
    }
    releaser.join();
    SetProgramKeyring(nullptr);
    EXPECT_EQ(Stored("password", "place"), "keyring");
    EXPECT_EQ(Stored("password", "password"), "None");
  }
}

// Without a bus address the bus libraries would start a bus of their own for the display; the
// program points them at the user's bus instead, where nothing answers here.
TEST_F(PasswordPlaceTest, WithoutABusAddressNoBusIsStarted) {
  ASSERT_EQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr);
  test::TempDir runtime;
  const char* before = std::getenv("XDG_RUNTIME_DIR");
  const std::string kept = before != nullptr ? before : "";
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  SettleSessionBus();
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_EQ(std::string(address != nullptr ? address : ""), "unix:path=" + runtime.File("bus"));
  // Where no socket is, the keyring's module and its libraries are not even loaded.
  EXPECT_FALSE(SessionBusMayAnswer());
  const int listener = test::UnixSocket(runtime.File("bus"), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + runtime.File("bus") + ",guid=1f").c_str(), 1);
  EXPECT_TRUE(SessionBusMayAnswer());
  close(listener);
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  if (before != nullptr) {
    setenv("XDG_RUNTIME_DIR", kept.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
}

// Nothing serves behind the bus address: the system takes the connection, but nobody ever
// answers on it. The program, run without a display as a script runs it, gives the keyring up
// and sends with the password of the settings file.
TEST_F(PasswordPlaceTest, ABusThatNeverAnswersIsGivenUpAndTheUnattendedSendGoesOn) {
  test::TempDir dir;
  const std::string path = dir.File("bus");
  const int listener = test::UnixSocket(path, 8);
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

// The test program has no services module beside it: without the linked calls a keyring that
// is there counts as none, and a token request says what could not be loaded.
TEST_F(SecretServiceTest, WithoutTheServicesModuleNoKeyringAnswersAndNoTokenIsRequested) {
  UseLinkedServices(nullptr);
  SecretServiceKeyring keyring;
  const KeyringAccount jane{.server = "mail.example.org", .user = "jane"};
  EXPECT_FALSE(keyring.Find(jane).answered);
  EXPECT_EQ(keyring.Store(jane, "pw"), KeyringAnswer::kaNoKeyring);
  EXPECT_EQ(daemon_.Lookup("mail.example.org", "jane"), std::nullopt);
  try {
    RequestToken("https://localhost:1/token", {{"grant_type", "refresh_token"}});
    ADD_FAILURE() << "no TokenError";
  } catch (const TokenError& error) {
    EXPECT_NE(std::string(error.what()).find(kServicesModuleName), std::string::npos)
        << error.what();
  }
  UseLinkedServices(&LinkedServices());
}

TEST_F(SecretServiceTest, OkMovesThePasswordIntoTheKeyringAndEverySendLogsInWithIt) {
  test::AiosmtpdServer server({.user = "jane", .password = "s3cret pass"});
  UseServer(server.port(), "jane", "old");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  OkInSettings(window, [&](QWidget* d) {
    EXPECT_EQ(PlaceLine(d), kInUserReg);
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
    EXPECT_EQ(PlaceLine(d), kInKeyring);
    Type(d, "SMTPServerBox", "localhost");
  });
  EXPECT_EQ(daemon_.Lookup("localhost", "jane"), "s3cret pass");
  EXPECT_EQ(daemon_.Lookup("127.0.0.1", "jane"), std::nullopt);

  // An emptied password is kept nowhere.
  OkInSettings(window, [&](QWidget* d) { Type(d, "PasswordBox", ""); });
  EXPECT_EQ(daemon_.Lookup("localhost", "jane"), std::nullopt);
  EXPECT_EQ(Stored("password", "password"), "");
}

// The first password went to the keyring, the second to the settings file while there was no
// bus: the second is the newer, and it is the one used when the bus is back.
TEST_F(SecretServiceTest, TheMostRecentlyStoredPasswordWins) {
  test::AiosmtpdServer server({.user = "jane", .password = "two"});
  UseServer(server.port(), "jane", "");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  OkInSettings(window, [&](QWidget* d) { Type(d, "PasswordBox", "one"); });
  ASSERT_EQ(daemon_.Lookup("127.0.0.1", "jane"), "one");
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  OkInSettings(window, [&](QWidget* d) { Type(d, "PasswordBox", "two"); });
  setenv("DBUS_SESSION_BUS_ADDRESS", daemon_.address().c_str(), 1);
  EXPECT_EQ(Stored("password", "password"), "two");
  SendOne("the newer password");
  EXPECT_EQ(server.WaitForMessages(1).at(0).auth_user, "jane");
  OkInSettings(window, [&](QWidget* d) { EXPECT_EQ(PlaceLine(d), kInUserReg); });
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
