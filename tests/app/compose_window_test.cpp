#include "app/compose_window.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>
#include <csignal>
#include <filesystem>
#include <memory>
#include <utility>

#include "app/attachment_list.h"
#include "app/drafts_store.h"
#include "app/form_style.h"
#include "app/settings_layout.h"
#include "app_fixture.h"
#include "gui_helpers.h"
#include "store/reg_file_backend.h"

namespace tovrel::app {
namespace {

using test::AnswerBox;
using test::ModalAnswerer;
using test::SeenBox;

class ComposeWindowTest : public test::AppTest {};

// The user's store file, counting how often it is opened.
class CountingBackend : public store::RegistryBackend {
 public:
  explicit CountingBackend(int* opens) : opens_(opens) {}
  std::unique_ptr<store::RegistrySession> Open(Access access) override {
    ++*opens_;
    return file_.Open(access);
  }

 private:
  int* opens_;
  store::RegFileBackend file_;
};

TEST_F(ComposeWindowTest, ControlsSitWhereTheFormPutsThemWithTheirCaptions) {
  StoreAccount("Jane Doe", "jd@example.org");
  ComposeWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.windowTitle(), "TovrelMail 3.3");
  const struct {
    const char* name;
    QRect geometry;
  } controls[] = {
      {"FromBox", {72, 24, 209, 21}},     {"ToBox", {72, 56, 209, 21}},
      {"CCBox", {72, 88, 209, 21}},       {"BCCBox", {72, 120, 209, 21}},
      {"SubjectBox", {72, 152, 209, 21}}, {"Attach", {16, 192, 75, 25}},
      {"AttachBox", {104, 192, 177, 25}}, {"MsgBox", {8, 240, 345, 241}},
      {"SendButton", {16, 496, 75, 25}},  {"QuitButton", {104, 496, 75, 25}},
      {"HiddenBox", {312, 496, 17, 21}},
  };
  for (const auto& control : controls) {
    QWidget* w = Find<QWidget>(&window, control.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), control.geometry) << control.name;
  }
  EXPECT_FALSE(Find<QLineEdit>(&window, "HiddenBox")->isVisible());
  // The captions as shown, each with a letter of its own underlined (F, E and H open the menus).
  EXPECT_EQ(Find<QPushButton>(&window, "Attach")->text(), "&Attach");
  EXPECT_EQ(Find<QPushButton>(&window, "SendButton")->text(), "&Send");
  EXPECT_EQ(Find<QPushButton>(&window, "QuitButton")->text(), "&Quit");
  EXPECT_EQ(Find<QStatusBar>(&window, "StatusBar")->height(), 19);
  // Not installed here, so the icon built into the program stands in for the theme's.
  EXPECT_FALSE(window.windowIcon().pixmap(32).isNull());

  // Each field has its label to its left, whole and not over the field, and its name for screen
  // readers.
  QStringList captions;
  QStringList names;
  for (const char* field : {"FromBox", "ToBox", "CCBox", "BCCBox", "SubjectBox"}) {
    QWidget* w = Find<QWidget>(&window, field);
    for (QLabel* label : window.findChildren<QLabel*>()) {
      if (label->buddy() != w) continue;
      captions << label->text();
      names << w->accessibleName();
      EXPECT_LE(label->geometry().right(), w->x()) << field;
      EXPECT_GE(label->x(), 0);
      EXPECT_GE(label->width(),
                label->fontMetrics().horizontalAdvance(ShownCaption(label->text())));
    }
  }
  EXPECT_EQ(captions, (QStringList{"F&rom:", "&To:", "&CC:", "&BCC:", "S&ubject"}));
  EXPECT_EQ(names, (QStringList{"From", "To", "CC", "BCC", "Subject"}));
  for (const char* control : {"MsgBox", "AttachBox", "AttachSummary", "SimplePanel"}) {
    EXPECT_FALSE(Find<QWidget>(&window, control)->accessibleName().isEmpty()) << control;
  }
  EXPECT_TRUE(CaptionsFit(&window));
  test::SaveGrab(&window, "compose_window");
}

TEST_F(ComposeWindowTest, MenusCarryTheirItemsInOrder) {
  ComposeWindow window;
  QStringList menus;
  QStringList items;
  for (QAction* menu_action : window.menuBar()->actions()) {
    menus << menu_action->menu()->objectName() + "=" + menu_action->text();
    for (QAction* item : menu_action->menu()->actions()) {
      items << item->objectName() + "=" + item->text();
    }
  }
  EXPECT_EQ(menus, (QStringList{"File1=&File", "Edit1=&Edit", "Help1=&Help"}));
  EXPECT_EQ(items, (QStringList{"SendOutbox1=Send Outbox", "Quit1=Quit", "Wordwrap1=Word wrap",
                                "Settings1=Settings", "Help2=Help", "FAQ1=FAQ",
                                "Checkforupdates1=Check for updates", "About1=About"}));
}

TEST_F(ComposeWindowTest, TabKeyWalksTheFieldsInTheDesignedOrder) {
  StoreAccount("Jane Doe", "jd@example.org");
  ComposeWindow window;
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  // The first focus is From's, as the order has it: what is typed at once goes there.
  QWidget* from = Find<QWidget>(&window, "FromBox");
  QStringList order;
  for (int i = 0; i < 10; ++i) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    // The editable combo box hands its focus to its line edit.
    order << (focus->parentWidget() == from ? from->objectName() : focus->objectName());
    QTest::keyClick(focus, Qt::Key_Tab);
  }
  EXPECT_EQ(order, (QStringList{"FromBox", "ToBox", "SubjectBox", "MsgBox", "SendButton",
                                "QuitButton", "CCBox", "BCCBox", "Attach", "AttachBox"}));
}

}  // namespace
}  // namespace tovrel::app

namespace tovrel::app {
namespace {

TEST_F(ComposeWindowTest, IdentitiesFillTheFromBoxSkippingRemovedSlots) {
  StoreAccount("Jane Doe", "jd@example.org", 3);
  Store("ident", "nameId1", "Work,");
  Store("ident", "emailId1", "jane@work.example");
  Store("ident", "nameId2", "");  // removed
  Store("ident", "emailId2", "");
  Store("ident", "emailId3", "c@example.org");  // no name value: as removed
  ComposeWindow window;
  window.LoadIdentities();
  auto* from = Find<QComboBox>(&window, "FromBox");
  QStringList entries;
  for (int i = 0; i < from->count(); ++i) entries << from->itemText(i);
  EXPECT_EQ(entries, (QStringList{"Jane Doe,jd@example.org", "Work,jane@work.example"}));
  EXPECT_EQ(from->currentText(), "Jane Doe,jd@example.org");
}

TEST_F(ComposeWindowTest, EmptyMainNameIsUnlistedButStillTheFromText) {
  StoreAccount("", "jd@example.org", 1);
  Store("ident", "nameId0", "");
  Store("ident", "nameId1", "Work,");
  Store("ident", "emailId1", "w@example.org");
  ComposeWindow window;
  window.LoadIdentities();
  auto* from = Find<QComboBox>(&window, "FromBox");
  ASSERT_EQ(from->count(), 1);
  EXPECT_EQ(from->itemText(0), "Work,w@example.org");
  EXPECT_EQ(from->currentText(), "jd@example.org");
}

TEST_F(ComposeWindowTest, ABrokenIdentityCountEmptiesTheFromBoxAndIsReported) {
  StoreAccount("Jane Doe", "jd@example.org");
  ComposeWindow window;
  window.LoadIdentities();
  Store("ident", "numOfIdents", "two");
  std::vector<SeenBox> seen;
  {
    ModalAnswerer answer;
    answer.Then(AnswerBox(&seen));
    window.show();  // showing loads the identities
    ASSERT_TRUE(test::WaitFor([&] { return seen.size() == 1; }));
  }
  EXPECT_EQ(seen[0].text, "'two' is not a valid integer value.");
  EXPECT_EQ(seen[0].title, "TovrelMail");
  EXPECT_EQ(seen[0].icon, QMessageBox::Critical);
  auto* from = Find<QComboBox>(&window, "FromBox");
  EXPECT_EQ(from->count(), 0);
  EXPECT_EQ(from->currentText(), "");
}

// A count edited by hand: slot 0 is always read, a count past the stored slots stops at the last
// one that holds values, a new identity goes just above it, and one loading reads the store once
// however many identities it holds.
TEST_F(ComposeWindowTest, IdentityCountsStopAtTheStoredSlotsAndOneLoadingReadsTheStoreOnce) {
  StoreAccount("Jane", "jane@example.org");
  Store("ident", "nameId1", "Work,");
  Store("ident", "emailId1", "w@example.org");
  const QStringList both = {"Jane,jane@example.org", "Work,w@example.org"};
  const std::pair<const char*, QStringList> cases[] = {
      {"2147483647", both}, {"5", both}, {"1", both}, {"0", {both[0]}}, {"-5", {both[0]}}};
  ComposeWindow window;
  auto* from = Find<QComboBox>(&window, "FromBox");
  for (const auto& [count, entries] : cases) {
    Store("ident", "numOfIdents", count);
    window.LoadIdentities();
    QStringList listed;
    for (int i = 0; i < from->count(); ++i) listed << from->itemText(i);
    EXPECT_EQ(listed, entries) << count;
    EXPECT_EQ(from->currentText(), "Jane,jane@example.org") << count;
  }
  Store("ident", "numOfIdents", "2147483647");
  AppendIdentity(store_, "Ann", "ann@example.org");
  EXPECT_EQ(Stored("ident", "numOfIdents"), "2");
  EXPECT_EQ(Stored("ident", "nameId2"), "Ann,");

  // Twenty thousand identities, written as one file.
  std::string file =
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\tovrel\\tovrelmail\\ident]\n"
      "\"numOfIdents\"=\"20000\"\n";
  for (int k = 0; k <= 20000; ++k) {
    const std::string slot = std::to_string(k);
    file += "\"nameId" + slot + "\"=\"Name " + slot + ",\"\n\"emailId" + slot + "\"=\"a" + slot +
            "@example.org\"\n";
  }
  test::WriteFile(home_.store_file(), file);
  int opens = 0;
  store::RegistryStore counted(std::make_unique<CountingBackend>(&opens));
  const std::vector<StoredIdentity> identities = ReadIdentities(counted);
  EXPECT_EQ(opens, 1);
  ASSERT_EQ(identities.size(), 20001u);
  EXPECT_EQ(identities[20000].from_entry(), "Name 20000,a20000@example.org");
}

// The menu item's check mark shows the state, and the choice outlives the window.
TEST_F(ComposeWindowTest, WordWrapIsOnAtFirstTheMenuItemTogglesItAndTheChoiceIsKept) {
  const auto expect = [](ComposeWindow& window, bool on) {
    EXPECT_EQ(Find<QPlainTextEdit>(&window, "MsgBox")->lineWrapMode() != QPlainTextEdit::NoWrap,
              on);
    EXPECT_EQ(Find<QAction>(&window, "Wordwrap1")->isChecked(), on);
  };
  {
    ComposeWindow window;
    expect(window, true);
    Find<QAction>(&window, "Wordwrap1")->trigger();
    expect(window, false);
  }
  EXPECT_EQ(Stored("window", "wordwrap"), "0");
  ComposeWindow next;
  expect(next, false);
  Find<QAction>(&next, "Wordwrap1")->trigger();
  expect(next, true);
  EXPECT_EQ(Stored("window", "wordwrap"), "1");
}

TEST_F(ComposeWindowTest, AttachAppendsTheChosenFileEvenTwice) {
  test::TempDir dir;
  const std::string file = dir.File("report.pdf");
  test::WriteFile(file, "%PDF");
  StoreAccount("Jane Doe", "jd@example.org");
  ComposeWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  // As a person would: type the path into the dialog's name field and press Enter. The dialog
  // opens in the home folder, then in the last file's.
  QStringList folders;
  auto choose = [&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Attach files");
    folders << dialog->directory().absolutePath();
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(file));
    QTest::keyClick(name, Qt::Key_Return);
  };
  // Nothing of the dialog stays behind: a kept one kept its name box's completion list, which
  // came up over the window once the folder was read, and took its keys.
  auto nothing_left = [&] { EXPECT_TRUE(window.findChildren<QFileDialog*>().isEmpty()); };
  {
    ModalAnswerer answer;
    answer.Then(choose);
    QTest::mouseClick(Find<QPushButton>(&window, "Attach"), Qt::LeftButton);
  }
  nothing_left();
  {
    ModalAnswerer answer;
    answer.Then(choose);
    QTest::mouseClick(Find<QPushButton>(&window, "Attach"), Qt::LeftButton);
  }
  nothing_left();
  EXPECT_EQ(folders, (QStringList{QDir::homePath(), QString::fromStdString(dir.path())}));
  {
    ModalAnswerer answer;  // cancelled: nothing added
    answer.Then([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    QTest::mouseClick(Find<QPushButton>(&window, "Attach"), Qt::LeftButton);
  }
  auto* list = Find<QListWidget>(&window, "AttachBox");
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text().toStdString(), file);
  EXPECT_EQ(list->item(1)->text().toStdString(), file);
}

// The one-line attachment list shows each path whole or shortened in the middle, never behind a
// scroll bar; the keys and the wheel reach every item and Delete removes the selected one.
// The window grows from its described size, which is also its least: the fields widen, the body
// and the attachment box widen and deepen, the buttons stay just below the body.
TEST_F(ComposeWindowTest, FieldsGrowWithTheWindow) {
  StoreAccount("Jane Doe", "jd@example.org");
  ComposeWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QSize described = window.size();
  const struct {
    int grow_x;
    int grow_y;
  } sizes[] = {{0, 0}, {200, 150}};
  for (const auto& size : sizes) {
    window.resize(described + QSize(size.grow_x, size.grow_y));
    QCoreApplication::processEvents();
    EXPECT_EQ(Find<QLineEdit>(&window, "ToBox")->geometry(), QRect(72, 56, 209 + size.grow_x, 21));
    EXPECT_EQ(Find<QLineEdit>(&window, "SubjectBox")->width(), 209 + size.grow_x);
    const int attach_grow = size.grow_y / 4;
    EXPECT_EQ(Find<AttachmentList>(&window, "AttachBox")->size(),
              QSize(177 + size.grow_x, 25 + attach_grow));
    EXPECT_EQ(Find<QPlainTextEdit>(&window, "MsgBox")->geometry(),
              QRect(8, 240 + attach_grow, 345 + size.grow_x, 241 + size.grow_y - attach_grow));
    EXPECT_EQ(Find<QPushButton>(&window, "SendButton")->geometry(),
              QRect(16, 496 + size.grow_y, 75, 25));
  }
  test::SaveGrab(&window, "compose_window_resized");
  window.resize(described - QSize(100, 100));
  QCoreApplication::processEvents();
  EXPECT_EQ(window.size(), described);
}

// A file manager's drop of file URLs attaches them, over the window or over a field that would
// otherwise take them as text; a drop of text or of a web address attaches nothing.
TEST_F(ComposeWindowTest, DroppedFilesAreAttachedAndOtherDropsAreNot) {
  StoreAccount("Jane Doe", "jd@example.org");
  ComposeWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* list = Find<AttachmentList>(&window, "AttachBox");
  auto* body = Find<QPlainTextEdit>(&window, "MsgBox");
  auto drop = [](QWidget* target, const QMimeData& data) {
    const QPointF at = QPointF(target->rect().center());
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropped);
  };
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a report.pdf")),
                 QUrl::fromLocalFile(QStringLiteral("/tmp/b.png"))});
  drop(&window, files);
  drop(body->viewport(), files);
  EXPECT_EQ(list->Paths(), (std::vector<std::string>{"/tmp/a report.pdf", "/tmp/b.png",
                                                     "/tmp/a report.pdf", "/tmp/b.png"}));
  EXPECT_EQ(body->toPlainText(), "");
  QMimeData text;
  text.setText(QStringLiteral("just words"));
  QMimeData web;
  web.setUrls({QUrl(QStringLiteral("https://example.org/x.pdf"))});
  drop(&window, text);
  drop(&window, web);
  EXPECT_EQ(list->count(), 4);
}

TEST_F(ComposeWindowTest, EveryAttachmentIsReachableInTheOneLineList) {
  StoreAccount("Jane Doe", "jd@example.org");
  const std::string first = "/home/jane/Documents/reports/2026/quarterly-figures-final-v2.pdf";
  const std::string second = "/home/jane/Pictures/holiday/beach.jpg";
  ComposeWindow window({"mailto:ann@example.org", "S", "b", "later", first, second});
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* list = Find<AttachmentList>(&window, "AttachBox");
  EXPECT_EQ(list->geometry(), QRect(104, 192, 177, 25));
  EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
  EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
  for (int row = 0; row < 2; ++row) {
    const QRect shown = list->visualItemRect(list->item(row));
    EXPECT_LE(shown.width(), list->viewport()->width()) << row;
  }
  EXPECT_EQ(list->item(0)->toolTip().toStdString(), first);
  test::SaveGrab(&window, "compose_window_attachments");

  list->setFocus();
  list->setCurrentRow(0);
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ(list->currentRow(), 1);
  // The current item is the one line in view, whole within the box's height.
  EXPECT_TRUE(list->viewport()->rect().contains(list->visualItemRect(list->item(1))));
  test::SaveGrab(list, "attachment_list_second");
  QTest::keyClick(list, Qt::Key_Up);
  EXPECT_EQ(list->currentRow(), 0);
  const QPoint middle = list->viewport()->rect().center();
  QWheelEvent down(middle, list->viewport()->mapToGlobal(middle), {}, {0, -120}, Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(list->viewport(), &down);
  EXPECT_EQ(list->currentRow(), 1);
  EXPECT_TRUE(list->viewport()->rect().contains(list->visualItemRect(list->item(1))));

  QTest::keyClick(list, Qt::Key_Delete);
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text().toStdString(), first);
  EXPECT_EQ(list->Paths(), std::vector<std::string>{first});
}

TEST_F(ComposeWindowTest, QuitButtonAndMenuItemCloseTheWindow) {
  StoreAccount("Jane Doe", "jd@example.org");
  ComposeWindow window;
  window.show();
  QTest::mouseClick(Find<QPushButton>(&window, "QuitButton"), Qt::LeftButton);
  EXPECT_FALSE(window.isVisible());
  ComposeWindow other;
  other.show();
  Find<QAction>(&other, "Quit1")->trigger();
  EXPECT_FALSE(other.isVisible());
}

// Attach takes several files at once; the line beside the box counts them with their size; an
// enlarged window lists them all; the next window opens where this one was closed.
TEST_F(ComposeWindowTest, SeveralFilesAreAttachedCountedListedAndTheWindowKeepsItsPlace) {
  StoreAccount("Jane Doe", "jd@example.org");
  test::TempDir dir;
  const std::pair<const char*, int> files[] = {{"a.txt", 400}, {"b.pdf", 1500}, {"c.png", 10000}};
  for (const auto& [name, size] : files) test::WriteFile(dir.File(name), std::string(size, 'x'));
  auto window = std::make_unique<ComposeWindow>();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  {
    ModalAnswerer answer;
    answer.Then([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->setDirectory(QString::fromStdString(dir.path()));
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      name->setText(QStringLiteral(R"("a.txt" "b.pdf" "c.png")"));
      QTest::keyClick(name, Qt::Key_Return);
    });
    QTest::mouseClick(Find<QPushButton>(window.get(), "Attach"), Qt::LeftButton);
  }
  auto* list = Find<AttachmentList>(window.get(), "AttachBox");
  EXPECT_EQ(list->Paths(),
            (std::vector<std::string>{dir.File("a.txt"), dir.File("b.pdf"), dir.File("c.png")}));
  EXPECT_EQ(Find<QLabel>(window.get(), "AttachSummary")->text(), "3 files, 11.9 KB");

  const QSize described = window->size();
  window->resize(described + QSize(100, 200));
  QCoreApplication::processEvents();
  for (int row = 0; row < list->count(); ++row) {
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualItemRect(list->item(row)))) << row;
  }
  test::SaveGrab(window.get(), "compose_window_several_attachments");
  window->resize(described + QSize(100, 0));  // within the screen, which a restored window is
  window->move(40, 5);
  QCoreApplication::processEvents();
  const QRect closed_at = window->geometry();
  {
    test::ModalAnswerer answer;
    answer.Then(test::AnswerBox(nullptr, QMessageBox::Discard));
    window->close();
  }
  window.reset();
  ComposeWindow next;
  next.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&next));
  EXPECT_EQ(next.geometry(), closed_at);
}

// On a screen smaller than the described window (1280 x 800 at twice the scale) the window fits
// the screen, and the form scrolls so that Send is still within reach.
TEST_F(ComposeWindowTest, OnASmallScreenTheWindowFitsAndTheFormScrolls) {
  StoreAccount("Jane Doe", "jd@example.org");
  QScreen* screen = QGuiApplication::primaryScreen();
  for (QScreen* each : QGuiApplication::screens()) {
    if (each->name() == "small") screen = each;
  }
  const QRect room = screen->availableGeometry();
  ComposeWindow window;
  window.move(room.topLeft());
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.screen(), screen);
  EXPECT_TRUE(room.contains(window.frameGeometry())) << room.height();
  window.resize(1, 1);  // as small as the window goes
  QCoreApplication::processEvents();
  EXPECT_TRUE(room.contains(window.frameGeometry()));
  auto* scroll = Find<QScrollArea>(&window, "FormScroll");
  auto* send = Find<QPushButton>(&window, "SendButton");
  scroll->ensureWidgetVisible(send);
  const QRect shown(send->mapTo(scroll->viewport(), QPoint(0, 0)), send->size());
  EXPECT_TRUE(scroll->viewport()->rect().contains(shown));
  test::SaveGrab(&window, "compose_window_small_screen");
}

// Every field of a draft reads back as it was, line breaks and backslashes in names included.
TEST(DraftTextTest, EveryFieldReadsBack) {
  const Draft draft{.fields = {.from = "Jane,jd@example.org",
                               .to = "a@b.c",
                               .cc = "c@d.e",
                               .bcc = "f@g.h",
                               .subject = "S\\n",
                               .body = {"one", "", "\\two"},
                               .attachments = {"/tmp/x\ny", "/tmp/z"}},
                    .word_wrap = false};
  const Draft back = ParseDraft(DraftText(draft));
  EXPECT_EQ(DraftText(back), DraftText(draft));
  EXPECT_EQ(back.fields.attachments, draft.fields.attachments);
  EXPECT_FALSE(back.word_wrap);
}

// A left-behind draft too large to read, or a link, is set aside unread with a line saying so.
TEST_F(ComposeWindowTest, DraftsTooLargeOrLinkedAreSetAsideUnread) {
  const std::string drafts = home_.data_folder() + "/drafts/";
  std::filesystem::create_directories(drafts);
  const std::string elsewhere = home_.path() + "/elsewhere";
  test::WriteFile(elsewhere, DraftText({.fields = {.to = "eve@example.org"}}));
  test::WriteFile(drafts + "1.draft",
                  "tovrelmail draft 1\nbody " + std::string(17 << 20, 'x') + "\nend\n");
  std::filesystem::create_symlink(elsewhere, drafts + "2.draft");
  std::vector<std::string> set_aside;
  EXPECT_TRUE(DraftStore::LeftBehind(set_aside).empty());
  ASSERT_EQ(set_aside.size(), 2u);
  EXPECT_EQ(set_aside[0], "The draft holds more than 16 MiB of text; it is kept as " + drafts +
                              "1.draft.damaged");
  EXPECT_TRUE(set_aside[1].starts_with("Refused \"" + drafts + "2.draft\": it is a symbolic link"));
  EXPECT_TRUE(std::filesystem::is_symlink(drafts + "2.draft.damaged"));
}

// A restored draft's old file goes only once the window's own save of it succeeded: a save that
// fails (here: past the size a process may write) leaves it, a later one removes it.
TEST_F(ComposeWindowTest, ARestoredDraftStaysUntilItIsSavedAgain) {
  StoreAccount("Jane Doe", "jd@example.org");
  const std::string drafts = home_.data_folder() + "/drafts";
  std::filesystem::create_directories(drafts);
  const std::string old_draft = drafts + "/0.draft";
  test::WriteFile(
      old_draft,
      DraftText({.fields = {.to = "ann@example.org", .body = {std::string(64 * 1024, 'x')}}}));
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  const rlimit small{16 * 1024, before.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  ModalAnswerer answer;
  answer.Then(AnswerBox(nullptr, QMessageBox::Yes));
  ComposeWindow window;
  window.show();
  const bool answered = test::WaitFor([&] { return answer.answered() == 1; });
  ::setrlimit(RLIMIT_FSIZE, &before);
  ASSERT_TRUE(answered);
  EXPECT_TRUE(std::filesystem::exists(old_draft));
  QTest::keyClicks(Find<QLineEdit>(&window, "SubjectBox"), "S");
  EXPECT_TRUE(test::WaitFor([&] { return !std::filesystem::exists(old_draft); }));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(drafts), {}), 2);  // .draft, .lock
}

// A window holding what the user typed asks before it closes: Cancel keeps it, Discard closes it.
TEST_F(ComposeWindowTest, ClosingAMessageAsksWhetherToDiscardIt) {
  StoreAccount("Jane Doe", "jd@example.org");
  ComposeWindow window;
  window.show();
  Find<QLineEdit>(&window, "SubjectBox")->setText("Half written");
  std::vector<test::SeenBox> seen;
  for (const auto button : {QMessageBox::Cancel, QMessageBox::Discard}) {
    test::ModalAnswerer answer;
    answer.Then(test::AnswerBox(&seen, button));
    Find<QAction>(&window, "Quit1")->trigger();
    EXPECT_EQ(window.isVisible(), button == QMessageBox::Cancel);
  }
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].text, "Discard this message?");
}

}  // namespace
}  // namespace tovrel::app
