#include "app/message_box.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "app/error_report.h"
#include "gui_helpers.h"

namespace tovrel::app {
namespace {

using test::AnswerBox;
using test::ModalAnswerer;
using test::SeenBox;

// Restores the process-wide box mode and stream after each case.
class MessageBoxTest : public testing::Test {
 protected:
  void TearDown() override {
    SetMessageBoxMode(MessageBoxMode::kAuto);
    SetHeadlessMessageStream(nullptr);
  }
};

TEST_F(MessageBoxTest, LineBreaksOfEveryKindBecomeOneBlank) {
  EXPECT_EQ(OneLine("Socket Error # 10061\r\nConnection refused."),
            "Socket Error # 10061 Connection refused.");
  EXPECT_EQ(OneLine("a\nb\rc\r\n\r\nd"), "a b c  d");
  EXPECT_EQ(OneLine("\r\r\n"), "  ");
  EXPECT_EQ(OneLine("no break"), "no break");
}

TEST_F(MessageBoxTest, HeadlessBoxIsOneLineAnsweredWithTheDefaultButton) {
  std::ostringstream out;
  SetHeadlessMessageStream(&out);
  SetMessageBoxMode(MessageBoxMode::kHeadless);
  EXPECT_EQ(ShowMessageBox(nullptr, "first\r\nsecond", "", QMessageBox::Information),
            QMessageBox::Ok);
  EXPECT_EQ(ShowMessageBox(nullptr, "Update?", "t", QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::No),
            QMessageBox::Yes);
  EXPECT_EQ(ShowMessageBox(nullptr, "Really?", "t", QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No),
            QMessageBox::No);
  // A file name or a reply may carry control characters: they must not act on the terminal.
  ShowMessageBox(nullptr, "Cannot open file a\x1B[2J\tb\x7F\xC2\x9B\xE9.", "",
                 QMessageBox::Critical);
  EXPECT_EQ(out.str(), "first second\nUpdate?\nReally?\nCannot open file a?[2J\tb???.\n");
}

TEST_F(MessageBoxTest, InteractiveBoxShowsTextTitleIconAndReturnsThePressedButton) {
  SetMessageBoxMode(MessageBoxMode::kInteractive);
  std::vector<SeenBox> seen;
  {
    ModalAnswerer answer;
    answer.Then(AnswerBox(&seen, QMessageBox::No));
    EXPECT_EQ(ShowMessageBox(nullptr, "Update Available. Do you want to know more?",
                             "Checking for updates", QMessageBox::Question,
                             QMessageBox::Yes | QMessageBox::No),
              QMessageBox::No);
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, "Checking for updates");
  EXPECT_EQ(seen[0].text, "Update Available. Do you want to know more?");
  EXPECT_EQ(seen[0].icon, QMessageBox::Question);
}

TEST_F(MessageBoxTest, ReportTextGainsAFullStopOnlyAfterCharactersSortingAfterIt) {
  EXPECT_EQ(ErrorReportText("Connection refused"), "Connection refused.");
  EXPECT_EQ(ErrorReportText("Already connected."), "Already connected.");
  EXPECT_EQ(ErrorReportText("550 No such user here"), "550 No such user here.");
  EXPECT_EQ(ErrorReportText("ends in digit 7"), "ends in digit 7.");
  EXPECT_EQ(ErrorReportText("ends in slash/"), "ends in slash/.");  // '/' is 47
  EXPECT_EQ(ErrorReportText("ends in dash-"), "ends in dash-");     // '-' is 45
  EXPECT_EQ(ErrorReportText("ends in bang!"), "ends in bang!");
  EXPECT_EQ(ErrorReportText("Cookie: "), "Cookie: ");
  EXPECT_EQ(ErrorReportText(""), "");
  EXPECT_EQ(ErrorReportText("caf\xC3\xA9"), "caf\xC3\xA9.");  // 8-bit bytes sort after '.'
}

TEST_F(MessageBoxTest, FailingHandlerEndsInOneCriticalBoxTitledWithTheProgramName) {
  SetMessageBoxMode(MessageBoxMode::kInteractive);
  std::vector<SeenBox> seen;
  bool ran_after = false;
  {
    ModalAnswerer answer;
    answer.Then(AnswerBox(&seen));
    EXPECT_FALSE(
        RunReported([] { throw std::runtime_error("'abc' is not a valid integer value"); }));
    ran_after = RunReported([] {});
  }
  EXPECT_TRUE(ran_after);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, "TovrelMail");
  EXPECT_EQ(seen[0].text, "'abc' is not a valid integer value.");
  EXPECT_EQ(seen[0].icon, QMessageBox::Critical);
}

TEST_F(MessageBoxTest, HeadlessErrorReportWritesTheReportLine) {
  std::ostringstream out;
  SetHeadlessMessageStream(&out);
  SetMessageBoxMode(MessageBoxMode::kHeadless);
  RunReported([] { throw std::runtime_error("Socket Error # 10061\r\nConnection refused"); });
  EXPECT_EQ(out.str(), "Socket Error # 10061 Connection refused.\n");
}

}  // namespace
}  // namespace tovrel::app
