// The About box as a person sees it: its caption, controls and link, shown modally and closed
// with OK.

#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/about_box.h"
#include "app/form_style.h"
#include "app/help_commands.h"
#include "app_fixture.h"
#include "gui_helpers.h"

namespace tovrel::app {
namespace {

class AboutBoxTest : public test::AppTest {
 protected:
  AboutBoxTest() {
    SetUrlOpener([this](const QUrl& url) { opened_.push_back(url.toString().toStdString()); });
  }
  ~AboutBoxTest() override { SetUrlOpener({}); }

  AboutBox box_;
  std::vector<std::string> opened_;
};

TEST_F(AboutBoxTest, ControlsSitWhereTheyBelong) {
  EXPECT_EQ(box_.windowTitle(), "About");
  EXPECT_EQ(box_.size(), QSize(295, 223));
  EXPECT_EQ(box_.pos(), QPoint(191, 115));
  auto* panel = Find<QFrame>(&box_, "Panel1");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->geometry(), QRect(8, 8, 281, 161));
  struct Label {
    const char* name;
    const char* text;
    QPoint at;
  };
  for (const Label& l :
       {Label{"ProductName", "TovrelMail", {16, 8}}, Label{"Label1", "Version 3.31", {16, 40}},
        Label{"Label3", "www.tovrel.example", {16, 120}}}) {
    auto* label = Find<QLabel>(&box_, l.name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), l.text);
    EXPECT_EQ(label->pos(), l.at) << l.name;
    EXPECT_EQ(label->parentWidget(), panel) << l.name;  // the panel holds the labels
  }
  EXPECT_EQ(Find<QLabel>(&box_, "ProductName")->font().pixelSize() > 0, true);
  auto* ok = Find<QPushButton>(&box_, "Button1");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_EQ(ok->geometry(), QRect(104, 176, 75, 25));
  EXPECT_TRUE(CaptionsFit(&box_));
  auto* link = Find<QLabel>(&box_, "Label3");
  EXPECT_TRUE(link->font().underline());
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(AboutBoxTest, LinkOpensTheHomePage) {
  box_.show();
  QTest::mouseClick(Find<QLabel>(&box_, "Label3"), Qt::LeftButton);
  EXPECT_EQ(opened_, std::vector<std::string>{"http://www.tovrel.example/"});
  box_.hide();
}

TEST_F(AboutBoxTest, ShownModallyUntilOk) {
  bool was_modal = false;
  std::string grab;
  test::ModalAnswerer answerer;
  answerer.Then([&](QWidget* modal) {
    was_modal = modal == &box_;
    grab = test::SaveGrab(modal, "about_box");
    QTest::mouseClick(modal->findChild<QPushButton*>("Button1"), Qt::LeftButton);
  });
  ShowAboutBox(box_);
  EXPECT_TRUE(was_modal);
  EXPECT_FALSE(box_.isVisible());
  EXPECT_EQ(box_.result(), QDialog::Accepted);
  EXPECT_FALSE(grab.empty());
}

}  // namespace
}  // namespace tovrel::app
