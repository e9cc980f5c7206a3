// A send from the window as a person watches it: painted at once, progress to the end, Cancel,
// no second send from input that arrives meanwhile, and a question when the window is closed.
// The server holds the message text, so that the send stays in progress while the test acts.

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <optional>

#include "app/attachment_list.h"
#include "app/compose_window.h"
#include "app_fixture.h"
#include "gui_helpers.h"
#include "message/string_helpers.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tovrel::app {
namespace {

using Clock = test::ServerControl::Clock;

// Larger than every socket buffer between the window and a server that holds: the send stays in
// the middle of the message text until the server reads again.
constexpr size_t kLargeFile = 16 * 1024 * 1024;

// Runs an action once, inside the send, as soon as its condition holds.
class DuringSend {
 public:
  DuringSend(std::function<bool()> ready, std::function<void()> action)
      : ready_(std::move(ready)), action_(std::move(action)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (!ready_()) return;
      timer_.stop();
      ran_ = true;
      action_();
    });
    timer_.start();
  }
  bool ran() const { return ran_; }

 private:
  QTimer timer_;
  std::function<bool()> ready_;
  std::function<void()> action_;
  bool ran_ = false;
};

// When a widget was first painted showing a given text.
class PaintRecorder : public QObject {
 public:
  PaintRecorder(QLabel* label, QString text) : label_(label), text_(std::move(text)) {
    label_->installEventFilter(this);
  }
  ~PaintRecorder() override { label_->removeEventFilter(this); }
  Clock::time_point first() const { return first_; }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == label_ && event->type() == QEvent::Paint && label_->text() == text_ &&
        first_ == Clock::time_point{}) {
      first_ = Clock::now();
    }
    return false;
  }

 private:
  QLabel* label_;
  QString text_;
  Clock::time_point first_{};
};

// Small, so that what the client writes while the server holds stays in the client's buffers
// and shows there as a send that does not move on.
constexpr int kReceiveBuffer = 64 * 1024;

// Answers every command, counting the messages taken whole (their final "." read and answered)
// and those the client cut off inside the message text.
struct SmtpCounts {
  std::atomic<int> messages{0};
  std::atomic<int> cut_off{0};
};
test::LoopbackServer::Session CountingSmtp(SmtpCounts& counts) {
  return [&counts](test::Peer& peer) {
    peer.Send("220 held.test ESMTP\r\n");
    for (;;) {
      std::string verb = peer.ReadLine();
      verb = message::AsciiUpper(verb.substr(0, verb.find(' ')));
      if (verb == "EHLO") {
        peer.Send("250-held.test\r\n250 8BITMIME\r\n");
      } else if (verb == "DATA") {
        peer.Send("354 go ahead\r\n");
        try {
          peer.ReadMessage();
        } catch (const std::exception&) {
          ++counts.cut_off;
          throw;
        }
        ++counts.messages;
        peer.Send("250 accepted\r\n");
      } else if (verb == "QUIT") {
        peer.Send("221 bye\r\n");
        return;
      } else {
        peer.Send("250 OK\r\n");
      }
    }
  };
}

// Grabs of a run at another scale carry it in their names.
std::string GrabName(const std::string& name) {
  const char* scale = std::getenv("QT_SCALE_FACTOR");
  return scale != nullptr && *scale != '\0' ? name + "_scale" + scale : name;
}

class SendProgressTest : public test::AppTest {
 protected:
  SendProgressTest() {
    StoreAccount("Jane", "jane@example.org");
    Store("smtp", "smtp", "127.0.0.1");
    Store("port", "port", std::to_string(server_.port()));
    Store("username", "username", "");
    test::WriteFile(large_file_, test::RandomBytes(kLargeFile, 3));
  }

  // Shows the window with a message that the server can hold in the middle.
  void Open(ComposeWindow& window) {
    window.show();
    ASSERT_TRUE(test::WaitFor([&] { return Find<QComboBox>(&window, "FromBox")->count() == 1; }));
    QTest::keyClicks(Find<QLineEdit>(&window, "ToBox"), "ann@example.org");
    QTest::keyClicks(Find<QLineEdit>(&window, "SubjectBox"), "Figures");
    Find<QPlainTextEdit>(&window, "MsgBox")->setPlainText("Dear Ann,\nthe figures.");
    Find<AttachmentList>(&window, "AttachBox")->AddPath(large_file_);
  }
  // True once the server holds the message text and the bar has moved.
  std::function<bool()> Held(ComposeWindow& window) {
    QProgressBar* bar = Find<QProgressBar>(&window, "SendProgressBar");
    return [this, bar] { return server_.holding() && bar->value() > 0; };
  }
  static void ClickSend(ComposeWindow& window) {
    QTest::mouseClick(Find<QPushButton>(&window, "SendButton"), Qt::LeftButton);
  }
  static QString Status(ComposeWindow& window) {
    return Find<QLabel>(&window, "SimplePanel")->text();
  }

  SmtpCounts counts_;
  test::LoopbackServer server_{CountingSmtp(counts_), {.receive_buffer = kReceiveBuffer}};
  test::TempDir files_;
  std::string large_file_ = files_.File("figures.bin");
};

TEST_F(SendProgressTest, SendingIsPaintedBeforeTheFirstByteAndTheBarEndsFull) {
  ComposeWindow window;
  Open(window);
  PaintRecorder paints(Find<QLabel>(&window, "SimplePanel"), "Sending email ...");
  QProgressBar* bar = Find<QProgressBar>(&window, "SendProgressBar");
  int highest = 0;
  QObject::connect(bar, &QProgressBar::valueChanged,
                   [&highest](int value) { highest = std::max(highest, value); });
  int held_at = -1;
  DuringSend during(Held(window), [&] {
    held_at = bar->value();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(Find<QPushButton>(&window, "CancelSendButton")->isVisible());
    test::SaveGrab(&window, GrabName("compose_window_sending"));
    test::SaveGrab(window.statusBar(), GrabName("status_bar_sending"));
    const QSize designed = window.size();
    window.resize(designed + QSize(240, 160));
    QCoreApplication::processEvents();
    test::SaveGrab(&window, GrabName("compose_window_sending_resized"));
    window.resize(designed);
    QCoreApplication::processEvents();
    server_.Release();
  });
  server_.Hold();
  {
    test::NoModalExpected no_box;
    ClickSend(window);
  }
  // What a screen reader is told of the status bar, without the focus going there.
  EXPECT_EQ(Find<QLabel>(&window, "SimplePanel")->accessibleDescription(), "Email send!");
  EXPECT_EQ(bar->accessibleName(), "Send progress");
  EXPECT_EQ(Find<QWidget>(&window, "CancelSendButton")->accessibleName(), "Cancel");
  ASSERT_TRUE(during.ran());
  EXPECT_GT(held_at, 0);
  EXPECT_LT(held_at, bar->maximum());
  EXPECT_EQ(highest, bar->maximum());
  ASSERT_NE(paints.first(), Clock::time_point{}) << "never painted";
  EXPECT_LT(paints.first(), server_.first_byte_at())
      << "painted " << (paints.first() - server_.first_byte_at()).count()
      << " ns after the first byte";
  EXPECT_EQ(counts_.messages.load(), 1);
  EXPECT_EQ(Status(window), "Email send!");
  EXPECT_FALSE(bar->isVisible());
}

TEST_F(SendProgressTest, CancelLeavesNoSpoolFileNorSocketAndKeepsTheFields) {
  ComposeWindow window;
  Open(window);
  const int descriptors = test::OpenDescriptors();
  ASSERT_TRUE(test::SpoolFiles().empty());
  int open_during = 0;
  DuringSend during(Held(window), [&] {
    open_during = test::OpenDescriptors();
    QTest::mouseClick(Find<QPushButton>(&window, "CancelSendButton"), Qt::LeftButton);
  });
  server_.Hold();
  {
    test::NoModalExpected no_box;  // the user asked for it: no box stands in the way
    ClickSend(window);
  }
  ASSERT_TRUE(during.ran());
  // The socket and the attachment were open, so that their absence below says something.
  EXPECT_GE(open_during, descriptors + 2);
  EXPECT_EQ(Status(window), "Send cancelled.");
  EXPECT_EQ(Find<QLineEdit>(&window, "ToBox")->text(), "ann@example.org");
  EXPECT_EQ(Find<QLineEdit>(&window, "SubjectBox")->text(), "Figures");
  EXPECT_EQ(Find<QPlainTextEdit>(&window, "MsgBox")->toPlainText(), "Dear Ann,\nthe figures.");
  EXPECT_EQ(Find<AttachmentList>(&window, "AttachBox")->Paths(),
            std::vector<std::string>{large_file_});
  EXPECT_TRUE(Find<QPushButton>(&window, "SendButton")->isEnabled());
  EXPECT_TRUE(test::SpoolFiles().empty());
  // The server's end of the connection closes once it has seen ours close.
  server_.Release();
  ASSERT_TRUE(test::WaitFor([&] { return server_.ended() == 1; }));
  EXPECT_EQ(counts_.cut_off.load(), 1);
  EXPECT_EQ(counts_.messages.load(), 0);
  EXPECT_EQ(test::OpenDescriptors(), descriptors);

  {
    test::NoModalExpected no_box;
    ClickSend(window);
  }
  EXPECT_EQ(counts_.messages.load(), 1);
  EXPECT_EQ(Status(window), "Email send!");
}

TEST_F(SendProgressTest, InputDuringASendStartsNoSecondSend) {
  ComposeWindow window;
  Open(window);
  auto* send = Find<QPushButton>(&window, "SendButton");
  DuringSend during(Held(window), [&] {
    for (const char* name :
         {"FromBox", "ToBox", "CCBox", "BCCBox", "SubjectBox", "Attach", "AttachBox", "MsgBox"}) {
      EXPECT_FALSE(Find<QWidget>(&window, name)->isEnabled()) << name;
    }
    for (const char* name : {"Settings1", "Checkforupdates1", "About1"}) {
      EXPECT_FALSE(window.findChild<QAction*>(QString::fromLatin1(name))->isEnabled()) << name;
    }
    EXPECT_TRUE(Find<QPushButton>(&window, "QuitButton")->isEnabled());
    EXPECT_FALSE(send->isEnabled());
    QTest::mouseClick(send, Qt::LeftButton);
    // As a click queued before the controls were locked would arrive.
    Q_EMIT send->clicked();
    server_.Release();
  });
  server_.Hold();
  {
    test::NoModalExpected no_box;
    ClickSend(window);
    QTest::qWait(200);  // anything still queued arrives now
  }
  ASSERT_TRUE(during.ran());
  EXPECT_EQ(server_.connections(), 1);
  EXPECT_EQ(counts_.messages.load(), 1);
  EXPECT_TRUE(send->isEnabled());
  EXPECT_EQ(Status(window), "Email send!");
}

// The status bar says how the last send ended: nothing while the "no recipient" box is open,
// the success only until the next message is begun, the failure after a failed send.
TEST_F(SendProgressTest, StatusBarTellsHowTheLastSendEnded) {
  ComposeWindow window;
  Open(window);
  auto* to = Find<QLineEdit>(&window, "ToBox");
  to->clear();
  QString under_box = "not asked";
  {
    test::ModalAnswerer answer;
    answer.Then([&](QWidget* modal) {
      under_box = Status(window);
      test::PressBoxButton(modal, QMessageBox::Ok);
    });
    ClickSend(window);
  }
  EXPECT_EQ(under_box, "");
  QTest::keyClicks(to, "ann@example.org");
  {
    test::NoModalExpected no_box;
    ClickSend(window);
  }
  EXPECT_EQ(Status(window), "Email send!");
  QTest::keyClicks(Find<QLineEdit>(&window, "SubjectBox"), "Next");
  EXPECT_EQ(Status(window), "");

  const std::string port = std::to_string(test::RefusedPort());
  Store("port", "port", port);
  QTest::keyClicks(to, "ann@example.org");
  std::vector<test::SeenBox> seen;
  {
    test::ModalAnswerer answer;
    answer.Then(test::AnswerBox(&seen, QMessageBox::No));  // not into the outbox
    ClickSend(window);
  }
  ASSERT_EQ(seen.size(), 1u);
  // The system's line first, then what to check.
  EXPECT_TRUE(seen[0].text.startsWith("Socket Error # 10061")) << seen[0].text.toStdString();
  EXPECT_TRUE(seen[0].text.contains(QString::fromStdString(
      "\nCheck the SMTP server (127.0.0.1) and the port (" + port + ") in Settings.\n")))
      << seen[0].text.toStdString();
  EXPECT_EQ(Status(window), "The email was not sent.");
}

// The keyboard alone: Ctrl+Return sends from the body, Tab reaches the status bar's Cancel while
// the send runs, Escape cancels it, Ctrl+Q closes the window.
TEST_F(SendProgressTest, TheKeyboardSendsCancelsAndQuits) {
  ComposeWindow window;
  Open(window);
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  auto* body = Find<QPlainTextEdit>(&window, "MsgBox");
  body->setFocus();
  QWidget* cancel = Find<QWidget>(&window, "CancelSendButton");
  bool cancel_reached = false;
  DuringSend during(Held(window), [&] {
    for (int i = 0; i < 30 && !cancel_reached; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      cancel_reached = QApplication::focusWidget() == cancel;
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  });
  server_.Hold();
  {
    test::NoModalExpected no_box;
    QTest::keyClick(body, Qt::Key_Return, Qt::ControlModifier);
  }
  ASSERT_TRUE(during.ran());
  EXPECT_TRUE(cancel_reached);
  EXPECT_EQ(Status(window), "Send cancelled.");
  EXPECT_EQ(body->toPlainText(), "Dear Ann,\nthe figures.");  // no line break typed
  server_.Release();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  {
    test::ModalAnswerer answer;  // the fields still hold the message
    answer.Then(test::AnswerBox(nullptr, QMessageBox::Discard));
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
  }
  EXPECT_FALSE(window.isVisible());
}

// The send goes on while the question is open: for No the server is let go at once and the
// answer comes only once it has the whole message; Yes then stops the send.
TEST_F(SendProgressTest, ClosingDuringASendAsksWhetherToCancelIt) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "Yes" : "No");
    const int messages = counts_.messages.load();
    const int cut_off = counts_.cut_off.load();
    ComposeWindow window;
    Open(window);
    std::vector<test::SeenBox> seen;
    // After the answer no other box may come, the "Send cancelled." one included.
    std::optional<test::NoModalExpected> no_other_box;
    QWidget* question = nullptr;
    DuringSend asked([&] { return (question = QApplication::activeModalWidget()) != nullptr; },
                     [&] {
                       if (!cancel) server_.Release();
                     });
    bool sent_while_asked = false;
    int turns_asked = 0;  // a send stopped by the question would never end: answered anyway
    DuringSend answer(
        [&] {
          return question != nullptr &&
                 (cancel || counts_.messages.load() > messages || ++turns_asked > 1000);
        },
        [&] {
          sent_while_asked = counts_.messages.load() > messages;
          seen.push_back(test::ReadBox(question));
          test::PressBoxButton(question, cancel ? QMessageBox::Yes : QMessageBox::No);
          server_.Release();
          no_other_box.emplace();
        });
    DuringSend during(Held(window), [&] { window.close(); });
    server_.Hold();
    ClickSend(window);
    ASSERT_TRUE(test::WaitFor([&] { return answer.ran(); }));
    EXPECT_EQ(sent_while_asked, !cancel);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "The email is still being sent. Cancel the send and close TovrelMail?");
    EXPECT_EQ(window.isVisible(), !cancel);
    ASSERT_TRUE(test::WaitFor([&] { return server_.ended() == messages + cut_off + 1; }));
    EXPECT_EQ(counts_.messages.load(), messages + (cancel ? 0 : 1));
    EXPECT_EQ(counts_.cut_off.load(), cut_off + (cancel ? 1 : 0));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
}

// The whole watched send again at twice the scale, in a process of its own (the factor is read
// when the application starts), for its grabs.
TEST_F(SendProgressTest, WatchedSendAtTwiceTheScale) {
  if (std::getenv("QT_SCALE_FACTOR") != nullptr) GTEST_SKIP() << "already scaled";
  const test::ProcessResult run = test::RunProcess(
      {"/proc/self/exe",
       "--gtest_filter=SendProgressTest.SendingIsPaintedBeforeTheFirstByteAndTheBarEndsFull"},
      {}, {"QT_SCALE_FACTOR=2"});
  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("[  PASSED  ] 1 test"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace tovrel::app
