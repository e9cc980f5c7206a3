#include "app/compose_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>

#include "app/program.h"
#include "app_fixture.h"
#include "gui_helpers.h"

namespace tovrel {
namespace {

using test::AnswerBox;
using test::ModalAnswerer;
using test::SeenBox;

class ComposeWindowTest : public test::AppTest {};

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
  EXPECT_EQ(Find<QPushButton>(&window, "Attach")->text(), "Attach");
  EXPECT_EQ(Find<QPushButton>(&window, "SendButton")->text(), "Send");
  EXPECT_EQ(Find<QPushButton>(&window, "QuitButton")->text(), "Quit");
  EXPECT_EQ(Find<QStatusBar>(&window, "StatusBar")->height(), 19);

  // Each field has its label to its left, whole and not over the field.
  QStringList captions;
  for (const char* field : {"FromBox", "ToBox", "CCBox", "BCCBox", "SubjectBox"}) {
    QWidget* w = Find<QWidget>(&window, field);
    for (QLabel* label : window.findChildren<QLabel*>()) {
      if (label->buddy() != w) continue;
      captions << label->text();
      EXPECT_LE(label->geometry().right(), w->x()) << field;
      EXPECT_GE(label->x(), 0);
      EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
    }
  }
  EXPECT_EQ(captions, (QStringList{"From:", "To:", "CC:", "BCC:", "Subject"}));
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
  EXPECT_EQ(menus, (QStringList{"File1=File", "Edit1=Edit", "Help1=Help"}));
  EXPECT_EQ(items,
            (QStringList{"Quit1=Quit", "Wordwrap1=Word wrap", "Settings1=Settings", "Help2=Help",
                         "FAQ1=FAQ", "Checkforupdates1=Check for updates", "About1=About"}));
}

TEST_F(ComposeWindowTest, TabKeyWalksTheFieldsInTheDesignedOrder) {
  StoreAccount("Jane Doe", "jd@example.org");
  ComposeWindow window;
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QWidget* from = Find<QWidget>(&window, "FromBox");
  from->setFocus();
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
}  // namespace tovrel
