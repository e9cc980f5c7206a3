#include "app/settings_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <tuple>

#include "app/compose_window.h"
#include "app/form_style.h"
#include "app/help_commands.h"
#include "app/program.h"
#include "app/settings_layout.h"
#include "app_fixture.h"
#include "gui_helpers.h"
#include "support/test_support.h"

namespace tovrel::app {
namespace {

using test::AnswerBox;
using test::ModalAnswerer;
using test::SeenBox;

const QStringList kDesignedOrder = {
    "FromNameBox", "FromEmailBox", "SMTPServerBox", "Button1",      "Button2",      "PortBox",
    "OtherName",   "OtherEmail",   "AddButton",     "RemoveCombo",  "RemoveButton", "UserNameBox",
    "PasswordBox", "SignInButton", "Button3",       "SecurityCombo"};

class SettingsDialogTest : public test::AppTest {
 protected:
  // Opens the dialog from the compose window's menu, lets `inside` work in it, and leaves it
  // with the button named `close_with`.
  void WithDialog(ComposeWindow& window, const std::function<void(QWidget*)>& inside,
                  const char* close_with = "Button2") {
    ModalAnswerer answer;
    answer.Then([&](QWidget* dialog) {
      inside(dialog);
      if (QApplication::activeModalWidget() == dialog) {
        QTest::mouseClick(Find<QPushButton>(dialog, close_with), Qt::LeftButton);
      }
    });
    Find<QAction>(&window, "Settings1")->trigger();
  }

  static void Type(QWidget* dialog, const char* field, const QString& text) {
    auto* edit = Find<QLineEdit>(dialog, field);
    edit->clear();
    QTest::keyClicks(edit, text);
  }
  // The keyring answers off the window's thread; the line under the login boxes tells.
  static bool KeyringAnswered(QWidget* dialog) {
    return test::WaitFor(
        [&] { return !Find<QLabel>(dialog, "PasswordPlaceLabel")->text().endsWith("..."); });
  }
  // The controls the Tab key reaches from the first box on.
  static QStringList TabOrder(QWidget* dialog) {
    QApplication::setActiveWindow(dialog);
    Find<QWidget>(dialog, "FromNameBox")->setFocus();
    QStringList order;
    for (int i = 0; i < 16; ++i) {
      QWidget* focus = QApplication::focusWidget();
      if (focus == nullptr) break;
      order << (qobject_cast<QComboBox*>(focus->parentWidget())
                    ? focus->parentWidget()->objectName()
                    : focus->objectName());
      QTest::keyClick(focus, Qt::Key_Tab);
    }
    return order;
  }
  static void Click(QWidget* dialog, const char* button) {
    QTest::mouseClick(Find<QPushButton>(dialog, button), Qt::LeftButton);
  }
  static QStringList Entries(QComboBox* box) {
    QStringList entries;
    for (int i = 0; i < box->count(); ++i) entries << box->itemText(i);
    return entries;
  }
  void AddIdentityVia(QWidget* dialog, const QString& name, const QString& address) {
    Type(dialog, "OtherName", name);
    Type(dialog, "OtherEmail", address);
    Click(dialog, "AddButton");
  }
  void RemoveVia(QWidget* dialog, const QString& entry) {
    Find<QComboBox>(dialog, "RemoveCombo")->setEditText(entry);
    Click(dialog, "RemoveButton");
  }
};

TEST_F(SettingsDialogTest, ControlsCaptionsAndTabOrderAreTheDesigned) {
  StoreAccount("Jane Doe", "jd@example.org");
  ProgramWindows windows({});
  SettingsDialog& dialog = windows.settings;
  EXPECT_EQ(dialog.windowTitle(), "Settings");
  const struct {
    const char* name;
    QRect geometry;
  } controls[] = {
      {"FromNameBox", {88, 40, 137, 21}},      {"FromEmailBox", {88, 72, 137, 21}},
      {"SMTPServerBox", {88, 104, 137, 21}},   {"PortBox", {88, 136, 41, 21}},
      {"Button1", {96, 346, 75, 25}},          {"Button2", {184, 346, 75, 25}},
      {"Button3", {272, 346, 75, 25}},         {"GroupBox1", {240, 16, 233, 137}},
      {"OtherName", {72, 24, 121, 21}},        {"OtherEmail", {72, 64, 121, 21}},
      {"AddButton", {14, 104, 75, 25}},        {"GroupBox2", {240, 168, 233, 121}},
      {"RemoveCombo", {8, 24, 209, 21}},       {"RemoveButton", {8, 56, 75, 25}},
      {"GroupBox3", {16, 168, 185, 121}},      {"UserNameBox", {64, 16, 113, 21}},
      {"PasswordBox", {64, 48, 113, 21}},      {"SecurityCombo", {137, 136, 88, 21}},
      {"SignInButton", {16, 346, 75, 25}},     {"SentCopyBox", {16, 306, 216, 18}},
      {"OAuthStateLabel", {16, 326, 457, 16}}, {"PlainPasswordBox", {240, 306, 233, 18}},
  };
  for (const auto& control : controls) {
    QWidget* w = Find<QWidget>(&dialog, control.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), control.geometry) << control.name;
  }
  EXPECT_EQ(Find<QGroupBox>(&dialog, "GroupBox1")->title(), "Add address");
  EXPECT_EQ(Find<QGroupBox>(&dialog, "GroupBox2")->title(), "Remove address ");
  EXPECT_EQ(Find<QGroupBox>(&dialog, "GroupBox3")->title(), "Authentication");
  // The captions as shown, each with a letter of its own underlined.
  EXPECT_EQ(Find<QPushButton>(&dialog, "Button1")->text(), "&OK");
  EXPECT_EQ(Find<QPushButton>(&dialog, "Button2")->text(), "&Cancel");
  EXPECT_EQ(Find<QPushButton>(&dialog, "Button3")->text(), "&Help");
  EXPECT_EQ(Find<QPushButton>(&dialog, "AddButton")->text(), "A&dd");
  EXPECT_EQ(Find<QPushButton>(&dialog, "RemoveButton")->text(), "&Remove");
  // Every field is named for screen readers after its label, the list of addresses to remove
  // after its group.
  const std::pair<const char*, const char*> names[] = {{"FromNameBox", "From Name"},
                                                       {"PortBox", "Port"},
                                                       {"PasswordBox", "Password"},
                                                       {"SecurityCombo", "Security"},
                                                       {"RemoveCombo", "Remove address"}};
  for (const auto& [field, name] : names) {
    EXPECT_EQ(Find<QWidget>(&dialog, field)->accessibleName(), name) << field;
  }
  // Masked: the stored value is unchanged, but nobody near the screen reads it.
  EXPECT_EQ(Find<QLineEdit>(&dialog, "PasswordBox")->echoMode(), QLineEdit::Password);
  auto* hint = Find<QLabel>(&dialog, "Label9");
  EXPECT_TRUE(hint->wordWrap());
  EXPECT_TRUE(hint->font().italic());
  EXPECT_EQ(hint->text(),
            "Fill these out if you need to logon to your SMTP server (You normally don't need "
            "to).");
  EXPECT_EQ(Find<QLabel>(&dialog, "Label1")->pos(), QPoint(16, 16));
  EXPECT_EQ(Find<QLabel>(&dialog, "Label1")->text(), "Main Account:");
  EXPECT_TRUE(CaptionsFit(&dialog));
  // The security choice shows its longest entry whole and covers nothing of the dialog's own.
  auto* security = Find<QComboBox>(&dialog, "SecurityCombo");
  EXPECT_EQ(Entries(security), (QStringList{"None", "STARTTLS", "SSL/TLS"}));
  EXPECT_GE(security->width(), security->sizeHint().width());
  for (QWidget* other : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (other != security && other->isVisibleTo(&dialog)) {
      EXPECT_FALSE(other->geometry().intersects(security->geometry())) << Text(other->objectName());
    }
  }

  ModalAnswerer answer;
  answer.Then([&](QWidget* shown) {
    ASSERT_EQ(shown, &dialog);
    test::SaveGrab(&dialog, "settings_dialog");
    EXPECT_EQ(TabOrder(&dialog), kDesignedOrder);
    dialog.reject();
  });
  dialog.exec();
}

// The dialog opens centred over the compose window, whole on the screen; on a screen smaller
// than the dialog its form scrolls, in the same tab order.
TEST_F(SettingsDialogTest, TheDialogIsCentredOnTheScreenAndScrollsWhereItMust) {
  StoreAccount("Jane Doe", "jd@example.org");
  for (const char* name : {"main", "tiny"}) {
    QScreen* screen = nullptr;
    for (QScreen* each : QGuiApplication::screens()) {
      if (each->name() == name) screen = each;
    }
    ASSERT_NE(screen, nullptr) << name;
    const bool tiny = std::string(name) == "tiny";
    ProgramWindows windows({});
    if (tiny) windows.compose.move(screen->availableGeometry().topLeft());
    windows.compose.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&windows.compose));
    WithDialog(windows.compose, [&](QWidget* dialog) {
      EXPECT_TRUE(screen->availableGeometry().contains(dialog->frameGeometry())) << name;
      const QPoint off = dialog->geometry().center() - windows.compose.geometry().center();
      EXPECT_TRUE(tiny || off.manhattanLength() <= 2) << off.x() << "," << off.y();
      EXPECT_EQ(dialog->findChild<QScrollArea*>("DialogScroll") != nullptr, tiny);
      EXPECT_EQ(TabOrder(dialog), kDesignedOrder) << name;
      test::SaveGrab(dialog, std::string("settings_dialog_") + name);
    });
  }
}

TEST_F(SettingsDialogTest, FirstRunSequenceRunsOverBothWindowsOnce) {
  PrepareStoreOnFirstStart(store_);
  EXPECT_EQ(Stored("frst", ""), "a");
  EXPECT_EQ(Stored("ident", "numOfIdents"), "0");
  EXPECT_EQ(Stored("port", "port"), "25");
  {
    ProgramWindows windows({});
    ModalAnswerer answer;
    answer.Then([&](QWidget* dialog) {
      EXPECT_EQ(dialog, &windows.settings);
      EXPECT_EQ(Stored("frst", ""), "c");
      EXPECT_EQ(Find<QLineEdit>(dialog, "PortBox")->text(), "25");
      for (const char* empty :
           {"FromNameBox", "FromEmailBox", "SMTPServerBox", "UserNameBox", "PasswordBox"}) {
        EXPECT_EQ(Find<QLineEdit>(dialog, empty)->text(), "") << empty;
      }
      Type(dialog, "FromNameBox", "Jane Doe");
      Type(dialog, "FromEmailBox", "jd@example.org");
      Type(dialog, "SMTPServerBox", "127.0.0.1");
      Type(dialog, "PortBox", "2525");
      test::SaveGrab(dialog, "settings_dialog_first_run");
      Click(dialog, "Button1");
    });
    windows.compose.show();
    ASSERT_TRUE(
        test::WaitFor([&] { return answer.answered() == 1 && !windows.settings.isVisible(); }));
    EXPECT_EQ(Find<QComboBox>(&windows.compose, "FromBox")->currentText(),
              "Jane Doe,jd@example.org");
  }
  EXPECT_EQ(Stored("frst", ""), "c");
  EXPECT_EQ(Stored("smtp", "smtp"), "127.0.0.1");
  EXPECT_EQ(Stored("port", "port"), "2525");
  EXPECT_EQ(Stored("username", "username"), "");
  EXPECT_EQ(Stored("password", "password"), "");
  EXPECT_EQ(Stored("ident", "nameId0"), "Jane Doe,");
  EXPECT_EQ(Stored("ident", "emailId0"), "jd@example.org");

  // The next start takes the normal path: no dialog, the identities are loaded.
  PrepareStoreOnFirstStart(store_);  // finds the store prepared and changes nothing
  ProgramWindows again({});
  again.compose.show();
  ASSERT_TRUE(
      test::WaitFor([&] { return Find<QComboBox>(&again.compose, "FromBox")->count() == 1; }));
  QTest::qWait(100);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_EQ(Stored("frst", ""), "c");
}

// The window system shows a dialog again after it was minimised; only opening the dialog fills
// its boxes, so what the user typed stays, in the first-run showing as in any other.
TEST_F(SettingsDialogTest, ShowingAgainAfterMinimisingKeepsWhatWasTyped) {
  PrepareStoreOnFirstStart(store_);
  ProgramWindows windows({});
  auto type_and_show_again = [&](QWidget* dialog) {
    Type(dialog, "FromNameBox", "Jane Doe");
    Type(dialog, "SMTPServerBox", "typed.example.org");
    QShowEvent restored;
    QApplication::sendEvent(dialog, &restored);
    EXPECT_EQ(Find<QLineEdit>(dialog, "FromNameBox")->text(), "Jane Doe");
    EXPECT_EQ(Find<QLineEdit>(dialog, "SMTPServerBox")->text(), "typed.example.org");
    EXPECT_EQ(Find<QLineEdit>(dialog, "UserNameBox")->text(), "");
    EXPECT_EQ(Find<QLineEdit>(dialog, "PasswordBox")->text(), "");
  };
  {
    ModalAnswerer answer;
    answer.Then([&](QWidget* dialog) {
      type_and_show_again(dialog);
      Click(dialog, "Button1");
    });
    windows.compose.show();
    ASSERT_TRUE(
        test::WaitFor([&] { return answer.answered() == 1 && !windows.settings.isVisible(); }));
  }
  EXPECT_EQ(Stored("smtp", "smtp"), "typed.example.org");
  EXPECT_EQ(Stored("username", "username"), "");
  EXPECT_EQ(Stored("password", "password"), "");
  EXPECT_EQ(Stored("ident", "nameId0"), "Jane Doe,");

  // Every opening fills the boxes afresh, once.
  Store("smtp", "smtp", "stored.example.org");
  WithDialog(windows.compose, [&](QWidget* dialog) {
    EXPECT_EQ(Find<QLineEdit>(dialog, "SMTPServerBox")->text(), "stored.example.org");
    type_and_show_again(dialog);
  });
}

// Enter acts on the box it is pressed in: in the boxes of a new address it adds that address,
// anywhere else it moves on to the next box and neither stores nor closes anything.
TEST_F(SettingsDialogTest, EnterAddsFromTheNewAddressBoxesAndIsNoOk) {
  StoreAccount("Jane", "jane@example.org");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  WithDialog(window, [&](QWidget* d) {
    for (const char* box : {"OtherName", "OtherEmail"}) {
      Type(d, "OtherName", QString::fromLatin1(box));
      Type(d, "OtherEmail", QString::fromLatin1(box) + "@example.org");
      QTest::keyClick(Find<QLineEdit>(d, box), Qt::Key_Return);
      EXPECT_TRUE(d->isVisible()) << box;
      EXPECT_EQ(Find<QLineEdit>(d, "OtherName")->text(), "") << box;
    }
    Type(d, "SMTPServerBox", "typed.example.org");
    QTest::keyClick(Find<QLineEdit>(d, "SMTPServerBox"), Qt::Key_Enter);
    EXPECT_TRUE(d->isVisible());
    QWidget* after_enter = QApplication::focusWidget();
    Find<QLineEdit>(d, "SMTPServerBox")->setFocus();
    QTest::keyClick(Find<QLineEdit>(d, "SMTPServerBox"), Qt::Key_Tab);
    EXPECT_EQ(after_enter, QApplication::focusWidget());  // moved on, as Tab does
    EXPECT_NE(after_enter, Find<QLineEdit>(d, "SMTPServerBox"));
  });  // Cancel
  EXPECT_EQ(Stored("ident", "numOfIdents"), "2");
  EXPECT_EQ(Stored("ident", "nameId1"), "OtherName,");
  EXPECT_EQ(Stored("ident", "emailId2"), "OtherEmail@example.org");
  EXPECT_EQ(Stored("smtp", "smtp"), "None");
  EXPECT_EQ(Stored("ident", "nameId0"), "Jane,");
}

TEST_F(SettingsDialogTest, ShowingFillsTheBoxesFromTheStore) {
  StoreAccount("Jane", "jane@example.org", 1);
  Store("smtp", "smtp", "mail.example.org");
  Store("username", "username", "jane");
  Store("ident", "nameId1", "Work Jane,");
  Store("ident", "emailId1", "jw@example.org");
  // no password stored: an empty box
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  const std::string before = test::ReadFile(home_.store_file());
  WithDialog(window, [&](QWidget* d) {
    EXPECT_EQ(Find<QLineEdit>(d, "FromNameBox")->text(), "Jane");
    EXPECT_EQ(Find<QLineEdit>(d, "FromEmailBox")->text(), "jane@example.org");
    EXPECT_EQ(Find<QLineEdit>(d, "SMTPServerBox")->text(), "mail.example.org");
    EXPECT_EQ(Find<QLineEdit>(d, "PortBox")->text(), "25");
    EXPECT_EQ(Find<QLineEdit>(d, "UserNameBox")->text(), "jane");
    EXPECT_EQ(Find<QLineEdit>(d, "PasswordBox")->text(), "");
    auto* remove = Find<QComboBox>(d, "RemoveCombo");
    EXPECT_EQ(Entries(remove), QStringList{"Work Jane, jw@example.org"});
    EXPECT_EQ(remove->currentText(), "Work Jane, jw@example.org");
    EXPECT_EQ(Entries(Find<QComboBox>(&window, "FromBox")),
              (QStringList{"Jane,jane@example.org", "Work Jane,jw@example.org"}));
  });  // Cancel
  EXPECT_EQ(test::ReadFile(home_.store_file()), before);

  // A main name stored without its comma is shown whole.
  Store("ident", "nameId0", "Plain");
  WithDialog(window,
             [&](QWidget* d) { EXPECT_EQ(Find<QLineEdit>(d, "FromNameBox")->text(), "Plain"); });
}

// A first run left without OK stored nothing: every box is empty, and OK with only a server and
// a port stores nothing made up for the rest.
TEST_F(SettingsDialogTest, MissingValuesShowEmptyAndOkStoresNoWordOfTheStores) {
  PrepareStoreOnFirstStart(store_);
  Store("frst", "", "c");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  WithDialog(
      window,
      [&](QWidget* d) {
        ASSERT_TRUE(KeyringAnswered(d));
        for (const char* empty :
             {"FromNameBox", "FromEmailBox", "SMTPServerBox", "UserNameBox", "PasswordBox"}) {
          EXPECT_EQ(Find<QLineEdit>(d, empty)->text(), "") << empty;
        }
        Type(d, "SMTPServerBox", "127.0.0.1");
        Type(d, "PortBox", "2525");
      },
      "Button1");
  EXPECT_EQ(Stored("smtp", "smtp"), "127.0.0.1");
  EXPECT_EQ(test::ReadFile(home_.store_file()).find("None"), std::string::npos);
}

// A port that goes with another security is pointed out on the notice line as it is typed or
// chosen; otherwise the line says where the password is.
TEST_F(SettingsDialogTest, APortThatDoesNotGoWithTheSecurityIsPointedOut) {
  StoreAccount("Jane", "jane@example.org");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  const QString needs_tls =
      "Port 465 is for SSL/TLS: with this security the server will not answer.";
  const QString plain_start = "starts in the clear: choose STARTTLS (or None) for it, not SSL/TLS.";
  const struct {
    const char* port;
    int security;    // None, STARTTLS, SSL/TLS
    QString notice;  // empty: where the password is
  } cases[] = {
      {"465", 0, needs_tls},
      {"465", 1, needs_tls},
      {"465", 2, ""},
      {"587", 2, "Port 587 " + plain_start},
      {"25", 2, "Port 25 " + plain_start},
      {"587", 1, ""},
      {"2525", 2, ""},
  };
  WithDialog(window, [&](QWidget* d) {
    ASSERT_TRUE(KeyringAnswered(d));
    auto* line = Find<QLabel>(d, "PasswordPlaceLabel");
    const QString place = line->text();
    const QRect where = line->geometry();
    for (const auto& c : cases) {
      Type(d, "PortBox", QString::fromLatin1(c.port));
      Find<QComboBox>(d, "SecurityCombo")->setCurrentIndex(c.security);
      EXPECT_EQ(line->text(), c.notice.isEmpty() ? place : c.notice) << c.port << " " << c.security;
      EXPECT_EQ(line->geometry(), where);
    }
    Type(d, "PortBox", "465");
    Find<QComboBox>(d, "SecurityCombo")->setCurrentIndex(1);
    test::SaveGrab(d, "settings_dialog_port_warning");
  });
}

TEST_F(SettingsDialogTest, OkStoresTheSixValuesAndReloadsTheSenderList) {
  StoreAccount("Old", "old@example.org");
  Store("username", "username", "someone");
  Store("password", "password", "secret");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  WithDialog(
      window,
      [&](QWidget* d) {
        Type(d, "FromNameBox", "Jane Q Doe");
        Type(d, "FromEmailBox", "jqd@example.org");
        Type(d, "SMTPServerBox", "smtp.example.org");
        Type(d, "PortBox", "587");
        Type(d, "UserNameBox", "");
        Type(d, "PasswordBox", "");
      },
      "Button1");
  EXPECT_EQ(Stored("smtp", "smtp"), "smtp.example.org");
  EXPECT_EQ(Stored("port", "port"), "587");
  EXPECT_EQ(Stored("username", "username"), "");
  EXPECT_EQ(Stored("password", "password"), "");
  EXPECT_EQ(Stored("ident", "nameId0"), "Jane Q Doe,");
  EXPECT_EQ(Stored("ident", "emailId0"), "jqd@example.org");
  EXPECT_EQ(Stored("ident", "numOfIdents"), "0");
  EXPECT_EQ(Find<QComboBox>(&window, "FromBox")->currentText(), "Jane Q Doe,jqd@example.org");
  EXPECT_FALSE(dialog.isVisible());
}

// Each opening shows the stored security; the user's choice moves a usual port to the usual one
// of the choice and leaves any other; OK stores the choice and keeps the certificate check. The
// check boxes (the sent copy, the password in the clear), clicked at each opening, show and store
// their state in turn.
TEST_F(SettingsDialogTest, SecurityChoiceShowsMovesUsualPortsAndIsStoredByOk) {
  StoreAccount("Jane", "jane@example.org");
  Store("smtp", "tlsverify", "0");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  const struct {
    const char* stored;  // nullptr: never stored
    const char* port;
    const char* shown;
    Qt::Key choose;  // Down: the next entry, Home: None, End: SSL/TLS
    const char* port_after;
    const char* written;
  } cases[] = {
      {nullptr, "25", "None", Qt::Key_Down, "587", "starttls"},
      {"", "25", "None", Qt::Key_End, "465", "tls"},
      {"starttls", "587", "STARTTLS", Qt::Key_Home, "25", ""},
      {"tls", "465", "SSL/TLS", Qt::Key_Home, "25", ""},
      {"starttls", "587", "STARTTLS", Qt::Key_End, "465", "tls"},
      {"TLS", "2525", "None", Qt::Key_End, "2525", "tls"},
      {"tls", "2525", "SSL/TLS", Qt::Key_Home, "2525", ""},
  };
  bool sent_copy = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.stored ? c.stored : "(none)") + " port " + c.port);
    if (c.stored != nullptr) Store("smtp", "security", c.stored);
    Store("port", "port", c.port);
    WithDialog(
        window,
        [&](QWidget* d) {
          auto* security = Find<QComboBox>(d, "SecurityCombo");
          EXPECT_EQ(security->currentText(), c.shown);
          EXPECT_EQ(Find<QLineEdit>(d, "PortBox")->text(), c.port);  // showing moves no port
          QTest::keyClick(security, c.choose);
          EXPECT_EQ(Find<QLineEdit>(d, "PortBox")->text(), c.port_after);
          if (security->currentText() == "STARTTLS") test::SaveGrab(d, "settings_dialog_starttls");
          for (const char* box : {"SentCopyBox", "PlainPasswordBox"}) {
            auto* check_box = Find<QCheckBox>(d, box);
            EXPECT_EQ(check_box->isChecked(), sent_copy) << box;
            check_box->click();
          }
        },
        "Button1");
    sent_copy = !sent_copy;
    EXPECT_EQ(Stored("smtp", "sentcopy"), sent_copy ? "1" : "0");
    EXPECT_EQ(Stored("smtp", "plainpassword"), sent_copy ? "1" : "0");
    EXPECT_EQ(Stored("smtp", "security"), c.written);
    EXPECT_EQ(Stored("port", "port"), c.port_after);
    EXPECT_EQ(Stored("smtp", "tlsverify"), "0");
  }
  // Cancel stores no choice.
  WithDialog(window, [&](QWidget* d) {
    QTest::keyClick(Find<QComboBox>(d, "SecurityCombo"), Qt::Key_End);
  });
  EXPECT_EQ(Stored("smtp", "security"), "");
}

TEST_F(SettingsDialogTest, AddTakesTheNextSlotsAndListsThem) {
  StoreAccount("Jane", "jane@example.org");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  WithDialog(window, [&](QWidget* d) {
    AddIdentityVia(d, "Ann Lee", "ann@example.org");
    AddIdentityVia(d, "Bob", "bob@example.org");
    AddIdentityVia(d, "", "");  // nothing is validated: a lone comma and an empty address
    EXPECT_EQ(Find<QLineEdit>(d, "OtherName")->text(), "");
    EXPECT_EQ(Find<QLineEdit>(d, "OtherEmail")->text(), "");
    EXPECT_EQ(Entries(Find<QComboBox>(d, "RemoveCombo")),
              (QStringList{"Ann Lee, ann@example.org", "Bob, bob@example.org", ", "}));
  });
  EXPECT_EQ(Stored("ident", "numOfIdents"), "3");
  EXPECT_EQ(Stored("ident", "nameId1"), "Ann Lee,");
  EXPECT_EQ(Stored("ident", "emailId1"), "ann@example.org");
  EXPECT_EQ(Stored("ident", "nameId2"), "Bob,");
  EXPECT_EQ(Stored("ident", "emailId2"), "bob@example.org");
  EXPECT_EQ(Stored("ident", "nameId3"), ",");
  EXPECT_EQ(Stored("ident", "emailId3"), "");
  // Cancel keeps what Add stored; the sender list already shows it.
  EXPECT_EQ(Entries(Find<QComboBox>(&window, "FromBox")),
            (QStringList{"Jane,jane@example.org", "Ann Lee,ann@example.org", "Bob,bob@example.org",
                         ","}));
}

TEST_F(SettingsDialogTest, RemoveEmptiesEveryMatchingSlotAndNoAddOverwritesARemainingOne) {
  StoreAccount("Jane", "jd", 4);
  const char* identities[][2] = {
      {"Jane Doe,", "jd"}, {"Ann,", "ann"}, {"Twin,", "jd"}, {"Cy,", "cy"}};
  for (int k = 1; k <= 4; ++k) {
    Store("ident", "nameId" + std::to_string(k), identities[k - 1][0]);
    Store("ident", "emailId" + std::to_string(k), identities[k - 1][1]);
  }
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  WithDialog(window, [&](QWidget* d) {
    // An address no slot holds writes nothing.
    const std::string before = test::ReadFile(home_.store_file());
    RemoveVia(d, "Nobody, nobody@example.org");
    RemoveVia(d, "   ");
    EXPECT_EQ(test::ReadFile(home_.store_file()), before);

    // "Jane Doe, jd" splits into Jane, Doe, jd: both extra slots holding jd go, slot 0 stays.
    RemoveVia(d, "Jane Doe, jd");
    EXPECT_EQ(Entries(Find<QComboBox>(d, "RemoveCombo")), (QStringList{"Ann, ann", "Cy, cy"}));
  });
  EXPECT_EQ(Stored("ident", "nameId1"), "");
  EXPECT_EQ(Stored("ident", "emailId1"), "");
  EXPECT_EQ(Stored("ident", "nameId3"), "");
  EXPECT_EQ(Stored("ident", "nameId0"), "Jane,");
  EXPECT_EQ(Stored("ident", "emailId0"), "jd");
  EXPECT_EQ(Stored("ident", "numOfIdents"), "4");  // slot 4 is still in use

  WithDialog(window, [&](QWidget* d) {
    RemoveVia(d, "Cy, cy");  // the highest slot: the count drops past every empty top slot
    EXPECT_EQ(Stored("ident", "numOfIdents"), "2");
    AddIdentityVia(d, "Dee", "dee");
    EXPECT_EQ(Stored("ident", "numOfIdents"), "3");
    EXPECT_EQ(Stored("ident", "nameId2"), "Ann,");  // untouched by the Add
    EXPECT_EQ(Stored("ident", "nameId3"), "Dee,");
    RemoveVia(d, "Ann, ann");
    RemoveVia(d, "Dee, dee");
    EXPECT_EQ(Stored("ident", "numOfIdents"), "0");
    EXPECT_EQ(Find<QComboBox>(d, "RemoveCombo")->count(), 0);
  });
  // The sender list was reloaded by showing the dialog, not by Remove.
  EXPECT_EQ(Entries(Find<QComboBox>(&window, "FromBox")),
            (QStringList{"Jane,jd", "Ann,ann", "Dee,dee"}));
}

TEST_F(SettingsDialogTest, ABrokenCountStopsTheListsAfterTheBoxesAreFilled) {
  StoreAccount("Jane", "jane@example.org");
  Store("ident", "numOfIdents", "x");
  Store("smtp", "smtp", "mail.example.org");
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  std::vector<SeenBox> seen;
  ModalAnswerer answer;
  // The error box opens over the dialog while it is being shown, before it takes input.
  answer.Then(AnswerBox(&seen));
  answer.Then([&](QWidget* d) {
    EXPECT_EQ(d, &dialog);
    EXPECT_EQ(Find<QLineEdit>(d, "SMTPServerBox")->text(), "mail.example.org");
    EXPECT_EQ(Find<QLineEdit>(d, "FromNameBox")->text(), "Jane");
    Click(d, "Button2");
  });
  Find<QAction>(&window, "Settings1")->trigger();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "'x' is not a valid integer value.");
}

TEST_F(SettingsDialogTest, HelpOpensTheUserGuideFromTheCurrentFolder) {
  StoreAccount("Jane", "jane@example.org");
  test::TempDir folder;
  test::WriteFile(folder.File("manual.htm"), "<html></html>");
  std::vector<QUrl> opened;
  SetUrlOpener([&](const QUrl& url) { opened.push_back(url); });
  const QString previous = QDir::currentPath();
  QDir::setCurrent(QString::fromStdString(folder.path()));
  ComposeWindow window;
  SettingsDialog dialog(&window);
  window.set_settings_dialog(&dialog);
  WithDialog(window, [&](QWidget* d) { Click(d, "Button3"); });
  QDir::setCurrent(previous);
  SetUrlOpener({});
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(folder.File("manual.htm"))));
}

}  // namespace
}  // namespace tovrel::app

namespace tovrel::app {
namespace {

// The line above the Sign-in button says whether OAuth 2.0 is in use and for whom.
TEST_F(SettingsDialogTest, TheSignInLineNamesWhoIsSignedInWithOAuth) {
  StoreAccount("Jane Doe", "jd@example.org");
  const std::tuple<const char*, const char*, const char*> cases[] = {
      // auth, token, shown
      {"password", "", ""},
      {"oauth2", "", "OAuth 2.0: not signed in"},
      {"oauth2", "r1", "Signed in with OAuth 2.0 as jd@example.org"},
  };
  for (const auto& [auth, refresh_token, shown] : cases) {
    Store("smtp", "auth", auth);
    Store("smtp", "oauth2refresh", refresh_token);
    ProgramWindows windows({});
    WithDialog(windows.compose, [&](QWidget* dialog) {
      EXPECT_TRUE(KeyringAnswered(dialog));
      auto* line = Find<QLabel>(dialog, "OAuthStateLabel");
      EXPECT_TRUE(test::WaitFor([&] { return Text(line->text()) == shown; })) << shown;
      test::SaveGrab(dialog, "settings_dialog_oauth");
    });
  }
}

// The sign-in dialog's values wait for the Settings dialog's OK, which stores them as named.
TEST_F(SettingsDialogTest, SignInValuesAreStoredWithSettingsOk) {
  StoreAccount("Jane Doe", "jd@example.org");
  ProgramWindows windows({});
  QWidget* settings_dialog = nullptr;
  ModalAnswerer answer;
  // The sign-in dialog is modal in its turn: each click comes after the answer that opened it.
  answer
      .Then([&](QWidget* settings) {
        settings_dialog = settings;
        test::SaveGrab(settings, "settings_dialog_sign_in_button");
        QTimer::singleShot(0, [settings] { Click(settings, "SignInButton"); });
      })
      .Then([&](QWidget* sign_in) {
        Find<QComboBox>(sign_in, "AuthCombo")->setCurrentIndex(1);
        Find<QComboBox>(sign_in, "ProviderCombo")->setCurrentIndex(1);
        Type(sign_in, "ClientIdBox", QStringLiteral("my-app"));
        Type(sign_in, "TokenCommandBox", QStringLiteral("pass show mail-token"));
        EXPECT_TRUE(test::WaitFor(
            [&] { return !Find<QLabel>(sign_in, "SignInState")->text().endsWith("..."); }));
        test::SaveGrab(sign_in, "sign_in_dialog");
        static_cast<QDialog*>(sign_in)->accept();
        QTimer::singleShot(0, [&] {
          EXPECT_EQ(Stored("smtp", "auth"), "None");  // not before OK
          Click(settings_dialog, "Button1");
        });
      });
  Find<QAction>(&windows.compose, "Settings1")->trigger();
  ASSERT_TRUE(test::WaitFor([&] { return !windows.settings.isVisible(); }));
  EXPECT_EQ(Stored("smtp", "auth"), "oauth2");
  EXPECT_EQ(Stored("smtp", "oauth2provider"), "microsoft");
  EXPECT_EQ(Stored("smtp", "oauth2clientid"), "my-app");
  EXPECT_EQ(Stored("smtp", "tokencommand"), "pass show mail-token");
}

}  // namespace
}  // namespace tovrel::app
