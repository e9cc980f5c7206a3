#include "app/command_line.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "app/app_errors.h"
#include "app/compose_window.h"
#include "app/outbox.h"
#include "app/password_keyring.h"
#include "app/unattended_send.h"
#include "app_fixture.h"
#include "gui_helpers.h"
#include "mail_judge.h"
#include "net/send_observer.h"
#include "net/smtp_client.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tovrel::app {
namespace {

using test::AnswerBox;
using test::LoopbackServer;
using test::ModalAnswerer;
using test::SeenBox;

using Lines = std::vector<std::string>;

const std::string kKeptLine = "Kept in the outbox; it goes out with tovrelmail --send-outbox\n";

// The command line inside the test process: what the arguments fill, and the compose window made
// with them.
class CommandLineTest : public test::AppTest {
 protected:
  static CommandLine Read(const std::vector<std::string>& args) {
    CommandLine line;
    ReadCommandLine(args, line);
    return line;
  }
  QString Field(ComposeWindow& window, const char* name) {
    return Find<QLineEdit>(&window, name)->text();
  }
  QString Body(ComposeWindow& window) {
    return Find<QPlainTextEdit>(&window, "MsgBox")->toPlainText();
  }
  QStringList Attachments(ComposeWindow& window) {
    QStringList items;
    auto* list = Find<QListWidget>(&window, "AttachBox");
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
  }
  // A send in this process to the server on `port`; its lines go to `boxes`.
  int SendTo(int port, net::SmtpClient& smtp, std::ostringstream& boxes,
             const std::string& link = "mailto:ann@example.org") {
    StoreAccount("Jane Doe", "jd@example.org");
    Store("smtp", "smtp", "127.0.0.1");
    Store("port", "port", std::to_string(port));
    return RunUnattendedSend({link, "S", "b", "send"}, boxes, smtp);
  }
  // The outbox's files with `extension`, oldest first.
  std::vector<std::string> Kept(const char* extension) {
    std::vector<std::string> paths;
    std::error_code none;
    for (const auto& item : std::filesystem::directory_iterator(outbox_, none)) {
      if (item.path().extension() == extension) paths.push_back(item.path());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }
  test::TempDir files_;
  const std::string outbox_ = home_.data_folder() + "/outbox";
};

TEST_F(CommandLineTest, NoArgumentsLeaveTheFieldsEmpty) {
  ComposeWindow window;
  EXPECT_EQ(Field(window, "ToBox"), "");
  EXPECT_EQ(Field(window, "SubjectBox"), "");
  EXPECT_EQ(Body(window), "");
  EXPECT_TRUE(Attachments(window).isEmpty());
  EXPECT_FALSE(window.termination_requested());
}

TEST_F(CommandLineTest, ArgumentsPrefillTheWindowByPosition) {
  ComposeWindow window({"mailto:ann@example.org,bob@example.org", "Hello there", "one line",
                        "later", "/tmp/a file.pdf", "relative.txt"});
  EXPECT_EQ(Field(window, "ToBox"), "ann@example.org,bob@example.org");
  EXPECT_EQ(Field(window, "SubjectBox"), "Hello there");
  EXPECT_EQ(Body(window), "one line");
  EXPECT_EQ(Attachments(window), (QStringList{"/tmp/a file.pdf", "relative.txt"}));
  EXPECT_FALSE(window.termination_requested());
}

TEST_F(CommandLineTest, OnlyAMailtoPrefixIsDropped) {
  const std::pair<std::string, std::string> cases[] = {
      {"mailto:", ""},       {"short", "short"},    {"bob@example.org", "bob@example.org"},
      {"MAILTO:x@y", "x@y"}, {"MailTo:x@y", "x@y"}, {"mail:x@y,z@y", "mail:x@y,z@y"}};
  for (const auto& [link, to] : cases) EXPECT_EQ(Read({link}).fields.to, to) << link;
}

// Links as browsers hand them over: header fields after "?" fill their own fields, escapes are
// undone, and positional arguments still win: a typed subject or body replaces the link's.
TEST_F(CommandLineTest, LinkFieldsAndEscapesFillTheirOwnFields) {
  {
    const ComposeFields fields =
        Read({"mailto:ann@example.org?subject=Gr%C3%BC%C3%9Fe%20%26%20more"
              "&CC=bob@example.org&bcc=eve%40example.org&to=carl@example.org"
              "&body=Line%201%0D%0A.Line%202&x-other=ignored"})
            .fields;
    EXPECT_EQ(fields.to, "ann@example.org, carl@example.org");
    EXPECT_EQ(fields.cc, "bob@example.org");
    EXPECT_EQ(fields.bcc, "eve@example.org");
    EXPECT_EQ(fields.subject, "Gr\u00FC\u00DFe & more");
    EXPECT_EQ(fields.body, (Lines{"Line 1", ".Line 2"}));
  }
  {
    const ComposeFields fields =
        Read({"MAILTO:ann%40example.org,b%2Bc@example.org?subject=link&body=from%20link", "Typed",
              "typed line"})
            .fields;
    EXPECT_EQ(fields.to, "ann@example.org,b+c@example.org");
    EXPECT_EQ(fields.subject, "Typed");
    EXPECT_EQ(fields.body, Lines{"typed line"});
  }
}

// A "%" without two hex digits after it is a "%"; what would put bytes that are not UTF-8 text,
// or a control character, into an address is refused rather than guessed at.
TEST_F(CommandLineTest, MalformedEscapesStayLiteralOrTheLinkIsRefused) {
  const std::pair<std::string, std::string> kept[] = {
      {"mailto:100%off@example.org", "100%off@example.org"},
      {"mailto:a%g1b@c", "a%g1b@c"},
      {"mailto:a%%41b@c", "a%Ab@c"},
      {"mailto:x@y%4", "x@y%4"},
  };
  for (const auto& [link, to] : kept) EXPECT_EQ(Read({link}).fields.to, to) << link;
  EXPECT_EQ(Read({"mailto:x@y?subject=50%&body=a%09b"}).fields.subject, "50%");
  EXPECT_EQ(Read({"mailto:x@y?body=a%09b"}).fields.body, Lines{"a\tb"});  // TAB stays in a body

  const std::string control = "The mail link puts a control character into an address: ";
  const std::string not_text = "The mail link is not UTF-8 text: ";
  const std::pair<std::string, std::string> refused[] = {
      {"mailto:a%01b@c", control + "mailto:a%01b@c"},
      {"mailto:x@y?cc=a%1Fb@c", control + "mailto:x@y?cc=a%1Fb@c"},
      {"mailto:x@y?bcc=a%0D%0Ab@c", control + "mailto:x@y?bcc=a%0D%0Ab@c"},
      {"mailto:a%C2%85b@c", control + "mailto:a%C2%85b@c"},
      {"mailto:a\x1B[2Jb@c", control + "mailto:a?[2Jb@c"},
      {"mailto:caf%E9@example.org", not_text + "mailto:caf%E9@example.org"},
      {"mailto:x@y?subject=%FF", not_text + "mailto:x@y?subject=%FF"},
      {"mailto:caf\xE9@example.org", not_text + "mailto:caf?@example.org"},
  };
  for (const auto& [link, message] : refused) {
    try {
      Read({link});
      ADD_FAILURE() << "taken: " << link;
    } catch (const LinkError& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
}

TEST_F(CommandLineTest, DashFReadsTheBodyLinesFromAFile) {
  const std::string path = files_.File("body.txt");
  test::WriteFile(path, "first\r\nsecond\nthird\rfourth\n");
  EXPECT_EQ(Read({"mailto:ann@example.org", "S", "-f" + path}).fields.body,
            (Lines{"first", "second", "third", "fourth"}));
}

// The body is UTF-8 whatever the file holds: UTF-8 as it stands (without a byte-order mark),
// anything else read as ISO-8859-1.
TEST_F(CommandLineTest, ABodyFileThatIsNotUtf8IsReadAsLatin1) {
  const std::string path = files_.File("body.txt");
  const std::pair<std::string, Lines> cases[] = {
      {"caf\xC3\xA9\n", {"caf\xC3\xA9"}},
      {"\xEF\xBB\xBFhi\r\nx", {"hi", "x"}},
      {"caf\xE9 \xA3 5\r\n", {"caf\xC3\xA9 \xC2\xA3 5"}},
      {std::string("\xFF\xFEh\0i\0", 6), {std::string("\xC3\xBF\xC3\xBEh\0i\0", 8)}},
  };
  for (const auto& [bytes, lines] : cases) {
    test::WriteFile(path, bytes);
    EXPECT_EQ(Read({"mailto:ann@example.org", "S", "-f" + path}).fields.body, lines)
        << test::ToHex(bytes);
  }
}

TEST_F(CommandLineTest, AnUnreadableBodyFileIsReportedAndTheRestSkipped) {
  for (const std::string& body : {std::string("-f"), "-f" + files_.File("missing.txt")}) {
    const std::string path = body.substr(2);
    std::vector<SeenBox> seen;
    {
      ModalAnswerer answer;
      answer.Then(AnswerBox(&seen));
      ComposeWindow window({"mailto:ann@example.org", "Kept", body, "send", "/tmp/x"});
      EXPECT_EQ(Field(window, "ToBox"), "ann@example.org");
      EXPECT_EQ(Field(window, "SubjectBox"), "Kept");
      EXPECT_TRUE(Attachments(window).isEmpty());  // step 5 never ran
      EXPECT_FALSE(window.termination_requested());
    }
    ASSERT_EQ(seen.size(), 1u) << body;
    EXPECT_EQ(seen[0].text.toStdString(),
              "Cannot open file \"" + path + "\": No such file or directory.");
  }
}

// A body file that is to be sent is only checked by its name here, as a read would check it, and
// left for the send to read as it goes; a window that may still show it reads its lines.
TEST_F(CommandLineTest, AnUnattendedSendLeavesTheBodyFileToTheSend) {
  const std::string path = files_.File("body.txt");
  test::WriteFile(path, "first\nsecond\n");
  const std::vector<std::string> args = {"mailto:ann@example.org", "S", "-f" + path, "send"};
  const CommandLine streamed = Read(args);
  EXPECT_EQ(streamed.fields.body_file, path);
  EXPECT_TRUE(streamed.fields.body.empty());
  CommandLine loaded;
  ReadCommandLine(args, loaded, BodyFileUse::bfLoad);
  EXPECT_EQ(loaded.fields.body, (Lines{"first", "second"}));
  EXPECT_EQ(loaded.fields.body_file, "");

  const std::string missing = files_.File("missing.txt");
  try {
    Read({"mailto:ann@example.org", "S", "-f" + missing, "send"});
    ADD_FAILURE() << "taken: " << missing;
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot open file \"" + missing + "\": No such file or directory");
  }
}

TEST_F(CommandLineTest, OnlyTheExactWordSendSends) {
  for (const char* word : {"Send", "SEND", "send ", "later"}) {
    const std::vector<std::string> args = {"mailto:ann@example.org", "S", "b", word};
    EXPECT_FALSE(AsksToSend(args)) << word;
    EXPECT_FALSE(Read(args).unattended_send) << word;
  }
  EXPECT_FALSE(AsksToSend({"mailto:ann@example.org", "S", "send"}));
  const std::vector<std::string> args = {"mailto:ann@example.org", "S", "b", "send", "/tmp/x"};
  EXPECT_TRUE(AsksToSend(args));
  const CommandLine line = Read(args);
  EXPECT_TRUE(line.unattended_send);
  EXPECT_EQ(line.fields.attachments, Lines{"/tmp/x"});
}

TEST_F(CommandLineTest, SendWithAnEmptyToFieldIsRefusedAndEndsTheRun) {
  StoreAccount("Jane", "jane@example.org");
  std::vector<SeenBox> seen;
  {
    ModalAnswerer answer;
    answer.Then(AnswerBox(&seen));
    ComposeWindow window({"mailto:", "S", "b", "send"});
    EXPECT_TRUE(window.termination_requested());
    EXPECT_EQ(window.exit_status(), 1);
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, " No recipient. Please fill in a email address in the To field  ");
}

TEST_F(CommandLineTest, SendLoadsTheMainAccountAsSenderAndEndsTheRun) {
  test::AiosmtpdServer server;
  StoreAccount("Jane Doe", "jd@example.org");
  Store("smtp", "smtp", "127.0.0.1");
  Store("port", "port", std::to_string(server.port()));
  Store("username", "username", "");
  ComposeWindow window({"mailto:ann@example.org", "Unattended", "text", "send"});
  EXPECT_TRUE(window.termination_requested());
  EXPECT_EQ(window.exit_status(), 0);
  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].mail_from, "jd@example.org");
  EXPECT_TRUE(test::JudgeMail(mails[0].data_path)["from"].toString().contains("Jane Doe"));
}

// An unattended send takes its "-f" body straight to the message; when the send fails, the window
// stays and shows that body, the same lines a person would have seen had it been shown at once.
TEST_F(CommandLineTest, AFailedUnattendedSendShowsTheBodyFileInTheWindow) {
  StoreAccount("Jane Doe", "jd@example.org");
  Store("smtp", "smtp", "127.0.0.1");
  Store("port", "port", std::to_string(test::RefusedPort()));
  const std::string path = files_.File("body.txt");
  test::WriteFile(path, "first\r\n.second\n\nlast");
  std::vector<SeenBox> seen;
  {
    ModalAnswerer answer;
    answer.Then(AnswerBox(&seen));
    ComposeWindow window({"mailto:ann@example.org", "S", "-f" + path, "send"});
    EXPECT_FALSE(window.termination_requested());
    EXPECT_EQ(Body(window), "first\n.second\n\nlast");
    // The program still ends as a send that did not go out, however the window is closed.
    EXPECT_EQ(window.exit_status(), 75);
    EXPECT_EQ(window.failed_send_reason(), "Socket Error # 10061\r\nConnection refused.");
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text.toStdString(),
            "Socket Error # 10061\r\nConnection refused.\n"
            "The failure may be temporary: try again later.");
}

// A piped body is read to its end before the server is dialled, and one longer than the spool
// limit is refused then: the refused port never comes into it.
TEST_F(CommandLineTest, APipedBodyPastTheSpoolLimitFailsBeforeAnyConnection) {
  StoreAccount("Jane Doe", "jd@example.org");
  Store("smtp", "smtp", "127.0.0.1");
  Store("port", "port", std::to_string(test::RefusedPort()));
  const std::string fifo = files_.File("body.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::ostringstream boxes;
  {
    const test::FifoFeeder feeder(fifo, std::string(64 * 1024, 'x'), 5);
    net::SmtpClient smtp;
    smtp.set_body_spool_limit(256 * 1024);
    EXPECT_EQ(RunUnattendedSend({"mailto:ann@example.org", "S", "-f" + fifo, "send"}, boxes, smtp),
              1);
  }
  EXPECT_NE(boxes.str().find("The body from " + fifo + " is longer than 262144 bytes"),
            std::string::npos)
      << boxes.str();
}

// Once the server has answered the end of the data the message is sent, whatever befalls the
// goodbye (unanswered, or cut off by a cancel). Without that answer it may pass: the message waits
// with the Message-ID the server saw, the attempt noted.
TEST_F(CommandLineTest, AMessageTheServerTookIsSentWhateverBefallsTheGoodbye) {
  const std::vector<std::string> script = {"220 hi", "250 OK", "250 r", "250 s", "250 t", "354 go"};
  const struct {
    std::string last;  // the reply to the end of the data
    bool cancel_once_taken;
    int status;
  } rows[] = {{"250 ok", false, 0}, {"250 ok", true, 0}, {"<silent>", false, 75}};
  Store("smtp", "sentcopy", "1");
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    std::vector<std::string> whole = script;
    whole.push_back(row.last);
    LoopbackServer server({test::SmtpScript(whole)});
    net::SmtpClient smtp;
    smtp.set_data_termination_timeout(300);
    test::StopWhen stop([&] { return !smtp.delivery().finished.empty(); });  // once taken
    std::optional<net::ObservedSend> observed;
    if (row.cancel_once_taken) observed.emplace(smtp, stop);
    std::ostringstream boxes;
    EXPECT_EQ(SendTo(server.port(), smtp, boxes), row.status);
    const std::string wire = server.Join()[0];
    std::error_code none;
    EXPECT_EQ(std::distance(
                  std::filesystem::directory_iterator(home_.data_folder() + "/Sent/cur", none), {}),
              std::min<ptrdiff_t>(&row - rows + 1, 2));
    EXPECT_EQ(boxes.str().empty(), row.status == 0) << boxes.str();
    ASSERT_EQ(Kept(".msg").size(), row.status == 0 ? 0u : 1u);
    if (row.status == 0) continue;
    const std::string text = test::ReadFile(Kept(".msg")[0]);
    const size_t id = text.find("Message-ID: ");
    EXPECT_NE(wire.find(text.substr(id, text.find('>', id) - id)), std::string::npos);
    EXPECT_NE(test::ReadFile(Kept(".env")[0])
                  .find("\nunconfirmed 1 Socket Error # 10060 Connection timed out."),
              std::string::npos);
  }
}

// A server that takes so many recipients at a time fails a later round: a failure that may pass
// keeps the message for the others only, and the outbox sends it to them alone; a refusal for
// good names who has it and who has not, and keeps nothing.
TEST_F(CommandLineTest, ASendSplitByTheServerWaitsOnlyForThoseNotServed) {
  for (const std::string reply : {"450 4.2.0 busy", "550 5.1.1 no such user"}) {
    LoopbackServer server(
        {test::SmtpScript({"220 hi", "250 OK", "250 r", "250 s", "250 t", "452 4.5.3 too many",
                           "354 go", "250 ok", "250 s", reply})});
    net::SmtpClient smtp;
    std::ostringstream boxes;
    const int status =
        SendTo(server.port(), smtp, boxes, "mailto:ann@example.org?cc=bob@example.org");
    EXPECT_EQ(status, reply[0] == '4' ? 75 : 1);
    EXPECT_EQ(boxes.str().find("Sent to 1 of 2 recipients; received by ann@example.org; not sent "
                               "to bob@example.org: The server refused the recipient "),
              0u);
    server.Join();
    EXPECT_EQ(Kept(".env").size(), status == 75 ? 1u : 0u);
    if (status == 1) continue;
    LoopbackServer later(
        {test::SmtpScript({"220 hi", "250 OK", "250 r", "250 s", "250 t", "354 go", "250 ok"})});
    Store("port", "port", std::to_string(later.port()));
    EXPECT_EQ(SendOutbox(ReadAccount(store_, ProgramKeyring()), smtp, boxes), kExitSent);
    const std::string wire = later.Join()[0];
    EXPECT_NE(wire.find("<jd@example.org>\r\nRCPT to:<bob@example.org>\r\nData"), std::string::npos)
        << wire;
  }
}

// The same from the outbox on a full disk: an envelope that cannot forget the recipient served
// is set aside, so that no run sends him a second copy.
TEST_F(CommandLineTest, AnEnvelopeThatCannotForgetTheServedIsSetAside) {
  net::SmtpClient smtp;
  std::ostringstream boxes;
  ASSERT_EQ(SendTo(test::RefusedPort(), smtp, boxes, "mailto:ann@example.org?cc=bob@example.org"),
            75);
  LoopbackServer server(
      {test::SmtpScript({"220 hi", "250 OK", "250 r", "250 s", "250 t", "452 4.5.3 too many",
                         "354 go", "250 ok", "250 s", "450 4.2.0 busy"})});
  Store("port", "port", std::to_string(server.port()));
  const Account account = ReadAccount(store_, ProgramKeyring());
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  const rlimit full{8, before.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
  const int status = SendOutbox(account, smtp, boxes);
  ::setrlimit(RLIMIT_FSIZE, &before);
  server.Join();
  EXPECT_EQ(status, kExitNotSent) << boxes.str();
  EXPECT_TRUE(Kept(".env").empty());
  EXPECT_EQ(Kept(".partly").size(), 1u);
  EXPECT_NE(boxes.str().find("so that no one gets the message twice"), std::string::npos)
      << boxes.str();
}

// The outbox goes out over one session, RSET before each message; a server that ends the
// session after a message gets a new connection for the next.
TEST_F(CommandLineTest, TheOutboxSendsEverythingOverOneSession) {
  std::vector<std::string> all_three = {"220 hi", "250 OK"};
  for (int i = 0; i < 3; ++i)
    all_three.insert(all_three.end(), {"250 r", "250 s", "250 t", "354 go", "250 ok"});
  std::vector<std::string> one_then_close(all_three.begin(), all_three.begin() + 7);
  one_then_close.back() += "\r\n421 4.4.2 bye";
  one_then_close.push_back("<close>");
  for (const auto& [script, connections] : {std::pair{all_three, 1}, {one_then_close, 3}}) {
    net::SmtpClient smtp;
    std::ostringstream boxes;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(SendTo(test::RefusedPort(), smtp, boxes), 75);
    LoopbackServer server(test::SmtpScript(script), LoopbackServer::UntilStopped{});
    Store("port", "port", std::to_string(server.port()));
    EXPECT_EQ(SendOutbox(ReadAccount(store_, ProgramKeyring()), smtp, boxes), kExitSent)
        << boxes.str();
    EXPECT_TRUE(Kept(".msg").empty());
    EXPECT_EQ(server.connections(), connections);
  }
}

// With Security None a password goes to a server on another machine (the test's loopback
// server counting as one) only when Settings allow it; refused, the send ends with 1 and keeps
// nothing. A server on this machine gets it either way.
TEST_F(CommandLineTest, APasswordInTheClearToAnotherMachineNeedsTheSetting) {
  test::AiosmtpdServer server({.user = "jane", .password = "pw"});
  StoreAccount("Jane Doe", "jd@example.org");
  Store("smtp", "smtp", "127.0.0.1");
  Store("port", "port", std::to_string(server.port()));
  Store("username", "username", "jane");
  Store("password", "password", "pw");
  const std::tuple<bool, const char*, std::string> rows[] = {
      {true, "",
       "The password would go to 127.0.0.1 unencrypted: choose STARTTLS or SSL/TLS in "
       "Settings.\n"},
      {true, "1", ""},
      {false, "", ""}};
  for (const auto& [remote, allowed, line] : rows) {
    Store("smtp", "plainpassword", allowed);
    std::ostringstream boxes;
    net::SmtpClient smtp;
    smtp.set_loopback_counts_as_remote(remote);
    EXPECT_EQ(RunUnattendedSend({"mailto:ann@example.org", "S", "b", "send"}, boxes, smtp),
              line.empty() ? 0 : 1);
    EXPECT_EQ(boxes.str(), line);
  }
  EXPECT_FALSE(std::filesystem::exists(home_.data_folder() + "/outbox"));
  EXPECT_EQ(server.WaitForMessages(2).size(), 2u);
  const Lines commands = server.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "AUTH"), 2);
}

// The program itself, run as another program or a script would run it: without a display.
class ProgramRunTest : public test::AppTest {
 protected:
  test::ProcessResult Run(const std::vector<std::string>& args, std::string_view input = {},
                          const std::vector<std::string>& display = {"DISPLAY=",
                                                                     "WAYLAND_DISPLAY="}) {
    std::vector<std::string> argv{test::BuildPath("tovrelmail")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env{home_.env(), "QT_QPA_PLATFORM="};
    env.insert(env.end(), display.begin(), display.end());
    return test::RunProcess(argv, input, env, std::chrono::seconds(60));
  }
  void UseServer(int port) {
    StoreAccount("Jane Doe", "jd@example.org");
    Store("smtp", "smtp", "127.0.0.1");
    Store("port", "port", std::to_string(port));
    Store("username", "username", "");
    Store("password", "password", "");
  }
  // Exactly one line on standard error; returns it without its line end.
  static std::string OneErrorLine(const test::ProcessResult& result) {
    EXPECT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.back(), '\n');
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    return result.err.substr(0, result.err.size() - 1);
  }
  test::TempDir files_;
};

TEST_F(ProgramRunTest, UnattendedSendDeliversAndEndsWithStatusZero) {
  test::AiosmtpdServer server;
  UseServer(server.port());
  const std::string body = files_.File("body.txt");
  test::WriteFile(body, "Dear Ann,\n\n.see the file\nJane\n");
  const std::string attachment = files_.File("figures.bin");
  const std::string bytes = test::RandomBytes(20000, 3);
  test::WriteFile(attachment, bytes);
  const auto result = Run({"mailto:ann@example.org", "Figures", "-f" + body, "send", attachment});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_FALSE(result.timed_out);
  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].rcpt_tos, std::vector<std::string>{"ann@example.org"});
  const QJsonObject mail = test::JudgeMail(mails[0].data_path);
  EXPECT_EQ(mail["defects"].toInt(), 0);
  EXPECT_EQ(mail["subject"].toString(), "Figures");
  EXPECT_EQ(mail["body"].toString(), "Dear Ann,\n\n.see the file\nJane\n");
  const QJsonArray attachments = mail["attachments"].toArray();
  ASSERT_EQ(attachments.size(), 1);
  EXPECT_EQ(attachments[0]["filename"].toString(), "figures.bin");
  EXPECT_EQ(attachments[0]["data_hex"].toString().toStdString(), test::ToHex(bytes));
}

// A body from a pipe cannot be read twice: it is read to its end once and sent whole.
TEST_F(ProgramRunTest, UnattendedSendTakesItsBodyFromAPipe) {
  test::AiosmtpdServer server;
  UseServer(server.port());
  std::string body;
  for (int i = 0; body.size() < 300000; ++i) {
    body += (i % 5 == 0 ? ".line " : "line ") + std::to_string(i) + "\n";
  }
  const auto result = Run({"mailto:ann@example.org", "Piped", "-f/dev/stdin", "send"}, body);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  const QJsonObject mail = test::JudgeMail(mails[0].data_path);
  EXPECT_EQ(mail["defects"].toInt(), 0);
  EXPECT_EQ(mail["body"].toString().toStdString(), body);
  Store("port", "port", std::to_string(test::RefusedPort()));
  const auto kept = Run({"mailto:ann@example.org", "Piped", "-f/dev/stdin", "send"}, body);
  EXPECT_TRUE(kept.err.ends_with(kKeptLine)) << kept.err;
  for (const auto& item : std::filesystem::directory_iterator(home_.data_folder() + "/outbox")) {
    EXPECT_TRUE(item.path().extension() != ".msg" ||
                test::ReadFile(item.path())
                    .ends_with(mails[0].data.substr(mails[0].data.find("\r\n\r\n"))));
  }
}

// Files that are no files to send are refused before the server is dialled, and a name holding
// an escape sequence reaches standard error with "?" in place of its control characters.
TEST_F(ProgramRunTest, OddFilesAreRefusedByNameBeforeAnyConnection) {
  UseServer(test::RefusedPort());
  {
    const auto result = Run({"mailto:ann@example.org", "S", "-f/dev/zero", "send"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(OneErrorLine(result), "Cannot send /dev/zero: it is not a regular file or a pipe.");
  }
  const std::string folder = files_.File("x\x1B]0;owned\x07");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const auto result = Run({"mailto:ann@example.org", "S", "b", "send", folder});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(OneErrorLine(result),
            "Cannot send " + files_.File("x?]0;owned?") + ": it is not a regular file or a pipe.");
}

TEST_F(ProgramRunTest, EveryFailureEndsWithItsStatusAndOneLine) {
  test::AiosmtpdServer server;
  UseServer(server.port());
  {
    const auto result = Run({"mailto:", "S", "b", "send"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(OneErrorLine(result),
              " No recipient. Please fill in a email address in the To field  ");
  }
  {
    Store("port", "port", "twenty-five");
    const auto result = Run({"mailto:ann@example.org", "S", "b", "send"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(OneErrorLine(result), "'twenty-five' is not a valid integer value.");
  }
  {
    const auto result = Run({"mailto:ann@example.org%0A", "S", "b", "send"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(OneErrorLine(result),
              "The mail link puts a control character into an address: "
              "mailto:ann@example.org%0A.");
  }
  {
    Store("port", "port", std::to_string(test::RefusedPort()));
    const auto result = Run({"mailto:ann@example.org", "S", "b", "send"});
    EXPECT_EQ(result.exit_status, 75);  // a refused connection may pass
    EXPECT_EQ(result.err, "Socket Error # 10061 Connection refused.\n" + kKeptLine);
  }
  Store("port", "port", std::to_string(server.port()));
  for (const std::string link : {"-f/etc/passwd", "mailto:ann@example.org?cc=user@-bad-.test"}) {
    const auto result = Run({link, "S", "b", "send"});
    EXPECT_EQ(result.exit_status, 1);
    const std::string shown = link.starts_with("-f") ? link : "user@-bad-.test";
    EXPECT_EQ(OneErrorLine(result), "The recipient address " + shown + " is not valid.");
  }
  {
    const std::string missing = files_.File("not-there.pdf");
    const auto result = Run({"mailto:ann@example.org", "S", "b", "send", missing});
    EXPECT_EQ(result.exit_status, 1);
    const std::string line = OneErrorLine(result);
    EXPECT_NE(line.find(missing), std::string::npos) << line;
  }
  {
    Store("smtp", "security", "starttls");  // this server offers no STARTTLS
    const auto result = Run({"mailto:ann@example.org", "S", "b", "send"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(OneErrorLine(result),
              "TLS: 127.0.0.1 does not offer STARTTLS; nothing was sent (set Security to None to "
              "send without TLS)");
  }
  EXPECT_TRUE(server.Messages().empty());
  EXPECT_TRUE(server.Commands().empty());  // no RCPT for what is no address
}

// A refusal that may pass (greylisting, a refused connection) ends with EX_TEMPFAIL, so that a
// script tries again later; a permanent one with 1. Either way one line says why.
TEST_F(ProgramRunTest, TemporaryFailuresEndWithStatus75) {
  test::AiosmtpdServer server;
  UseServer(server.port());
  const struct {
    const char* to;
    int status;
    const char* line;
  } cases[] = {
      {"mailto:greylisted@example.org", 75,
       "The server refused the recipient greylisted@example.org: 450 4.2.0 Greylisted, try "
       "again later."},
      {"mailto:unknown@example.org", 1,
       "The server refused the recipient unknown@example.org: 550 5.1.1 No such user."},
  };
  for (const auto& c : cases) {
    const auto result = Run({c.to, "S", "b", "send"});
    EXPECT_EQ(result.exit_status, c.status) << c.to;
    EXPECT_EQ(result.err, c.line + std::string("\n") + (c.status == 75 ? kKeptLine : ""));
  }
  EXPECT_TRUE(server.Messages().empty());
}

// Sends that may go out later wait in the outbox, each with its text as it would have gone on
// the wire; --send-outbox delivers each once, moves a refusal to failed/, and keeps a copy of
// what went out in Sent, the blind copies named there only.
TEST_F(ProgramRunTest, OutboxDeliversLaterAndSentKeepsACopy) {
  test::AiosmtpdServer server(test::AiosmtpdServer::Options{.greylist_once = true});
  UseServer(test::RefusedPort());
  Store("smtp", "sentcopy", "1");
  const std::string outbox = home_.data_folder() + "/outbox";
  EXPECT_EQ(Run({"mailto:ann@example.org?bcc=bob@example.org", "First", ".b", "send"}).exit_status,
            75);
  EXPECT_EQ(Run({"mailto:unknown@example.org", "Second", "b", "send"}).exit_status, 75);
  Store("port", "port", std::to_string(server.port()));
  const auto greylisted = Run({"mailto:greylisted@example.org", "Third", "b", "send"});
  EXPECT_EQ(greylisted.exit_status, 75);
  EXPECT_TRUE(greylisted.err.ends_with(kKeptLine)) << greylisted.err;
  std::vector<std::string> kept;
  for (const auto& item : std::filesystem::directory_iterator(outbox)) {
    if (item.path().extension() == ".msg") kept.push_back(item.path());
  }
  std::sort(kept.begin(), kept.end());
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(std::filesystem::status(kept[0]).permissions(), std::filesystem::perms(0600));
  const std::string first_text = test::ReadFile(kept[0]);
  // A fault of the account is no refusal of the messages: they all wait for the next run.
  Store("smtp", "smtp", "");
  EXPECT_EQ(Run({"--send-outbox"}).exit_status, 75);
  EXPECT_TRUE(std::filesystem::exists(kept[2]));
  EXPECT_FALSE(std::filesystem::exists(outbox + "/failed"));
  Store("smtp", "smtp", "127.0.0.1");

  const auto run = Run({"--send-outbox"});
  EXPECT_EQ(run.exit_status, 1);  // the refused one
  EXPECT_NE(OneErrorLine(run).find("refused, moved to outbox/failed: The server refused the "
                                   "recipient unknown@example.org: 550"),
            std::string::npos);
  const auto mails = server.Messages();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[0].data, first_text);  // the Message-ID and Date as first written
  EXPECT_EQ(mails[0].rcpt_tos, (Lines{"ann@example.org", "bob@example.org"}));
  EXPECT_EQ(mails[1].rcpt_tos, Lines{"greylisted@example.org"});
  EXPECT_EQ(mails[0].data.find("Bcc"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outbox + "/failed"), {}), 2);
  const auto again = Run({"--send-outbox"});
  EXPECT_EQ(again.exit_status, 0) << again.err;
  EXPECT_EQ(server.Messages().size(), 2u);

  const auto sent = test::RunPython(R"PY(
import mailbox, sys
for key, msg in sorted(mailbox.Maildir(sys.argv[1], create=False).items(),
                       key=lambda item: item[1]['Subject']):
    print(msg['Subject'], msg['Bcc'], msg.get_flags(), msg['Message-ID'] is not None, sep='|')
)PY",
                                    {home_.data_folder() + "/Sent"});
  EXPECT_EQ(sent.out, "First|bob@example.org|S|True\nThird|None|S|True\n") << sent.err;
}

// A window killed as it stands leaves its message behind: the next start offers it and Yes brings
// every field back; a file that is no draft is set aside, never deleted, and not asked about.
TEST_F(ProgramRunTest, DraftsOutliveAKillAndDamagedOnesAreSetAside) {
  UseServer(test::RefusedPort());
  const std::string drafts = home_.data_folder() + "/drafts";
  const auto draft_kept = [&] {
    std::error_code none;
    for (const auto& item : std::filesystem::directory_iterator(drafts, none)) {
      if (item.path().extension() == ".draft") return true;
    }
    return false;
  };
  {
    test::ChildProcess program({test::BuildPath("tovrelmail"),
                                "mailto:ann@example.org?cc=bob@example.org&bcc=eve@example.org"
                                "&subject=Plans&body=Line%201%0ALine%202"},
                               {"DISPLAY=:99", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=offscreen"});
    ASSERT_TRUE(test::WaitFor(draft_kept, 30000));
    ::kill(program.pid(), SIGKILL);
    program.Stop();
  }
  test::WriteFile(drafts + "/0.draft", "tovrelmail draft 1\nto ann@example.org\n");
  {
    // A window a link filled is not offered the draft: restoring it would replace the link's text.
    test::NoModalExpected no_box;
    ComposeWindow linked({"mailto:zed@example.org"});
    linked.show();
    QTest::qWait(200);
    EXPECT_EQ(Find<QLineEdit>(&linked, "ToBox")->text(), "zed@example.org");
  }
  std::vector<SeenBox> seen;
  ModalAnswerer answer;
  answer.Then(AnswerBox(&seen, QMessageBox::Yes));
  ComposeWindow window;
  window.show();
  ASSERT_TRUE(test::WaitFor([&] { return answer.answered() == 1; }));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "Restore the message you were writing?");
  const auto field = [&](const char* name) { return Find<QLineEdit>(&window, name)->text(); };
  EXPECT_EQ(Find<QComboBox>(&window, "FromBox")->currentText(), "Jane Doe,jd@example.org");
  EXPECT_EQ(field("ToBox"), "ann@example.org");
  EXPECT_EQ(field("CCBox"), "bob@example.org");
  EXPECT_EQ(field("BCCBox"), "eve@example.org");
  EXPECT_EQ(field("SubjectBox"), "Plans");
  EXPECT_EQ(Find<QPlainTextEdit>(&window, "MsgBox")->toPlainText(), "Line 1\nLine 2");
  EXPECT_TRUE(std::filesystem::exists(drafts + "/0.draft.damaged"));
}

// Two runs at once, the server slow to take the message: each message still goes out once.
TEST_F(ProgramRunTest, OutboxRunsAtOnceSendEachMessageOnce) {
  test::AiosmtpdServer server(test::AiosmtpdServer::Options{.data_delay_seconds = 1});
  UseServer(test::RefusedPort());
  EXPECT_EQ(Run({"mailto:ann@example.org", "S", "b", "send"}).exit_status, 75);
  Store("port", "port", std::to_string(server.port()));
  // Each run ends as what it found ended: sent, or taken by the other run.
  const auto result = test::RunProcess(
      {"/bin/sh", "-c",
       "\"$0\" --send-outbox & a=$!; \"$0\" --send-outbox; b=$?; wait $a; echo $? $b",
       test::BuildPath("tovrelmail")},
      {}, {"DISPLAY=", "WAYLAND_DISPLAY="}, std::chrono::seconds(60));
  EXPECT_EQ(result.out + result.err, "0 0\n");
  EXPECT_EQ(Run({"--send-outbox"}).exit_status, 0);
  EXPECT_EQ(server.Messages().size(), 1u);
}

// A disk that fills while a message is kept (here: a limit on the size of a file, which the
// envelope of 600 blind copies passes) leaves no part of it; a refused message whose text cannot
// move to failed/ stays in the outbox whole, and says so.
TEST_F(ProgramRunTest, OutboxEntriesStayWholeWhenFilesCannotBeWrittenOrMoved) {
  test::AiosmtpdServer server;
  UseServer(test::RefusedPort());
  const std::string outbox = home_.data_folder() + "/outbox/";
  std::string link = "mailto:unknown@example.org?bcc=";
  for (int i = 0; i < 600; ++i) link += (i == 0 ? "" : ",") + std::to_string(i) + "@example.org";
  const auto full =
      test::RunProcess({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 8; exec \"$0\" \"$@\"",
                        test::BuildPath("tovrelmail"), link, "S", "b", "send"},
                       {}, {home_.env(), "DISPLAY=", "WAYLAND_DISPLAY="}, std::chrono::seconds(60));
  EXPECT_NE(full.err.find("File too large"), std::string::npos) << full.err;
  EXPECT_TRUE(std::filesystem::is_empty(outbox));

  ASSERT_EQ(Run({"mailto:unknown@example.org", "S", "b", "send"}).exit_status, 75);
  const std::string name = std::filesystem::directory_iterator(outbox)->path().stem();
  std::filesystem::create_directories(outbox + "failed/" + name + ".msg");  // in the text's way
  Store("port", "port", std::to_string(server.port()));
  const auto run = Run({"--send-outbox"});
  EXPECT_EQ(run.exit_status, 75);
  EXPECT_NE(OneErrorLine(run).find(name + ": refused, but left in the outbox: it cannot be moved "
                                          "to outbox/failed (Is a directory): The server refused"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(outbox + name + ".env") &&
              std::filesystem::exists(outbox + name + ".msg"));
  EXPECT_FALSE(std::filesystem::exists(outbox + "failed/" + name + ".env"));
}

// What is planted in the outbox through a link is refused before anything is sent: the key file
// behind it never reaches the planted recipient.
TEST_F(ProgramRunTest, OutboxFilesThatAreLinksAreRefused) {
  test::AiosmtpdServer server;
  UseServer(server.port());
  namespace fs = std::filesystem;
  const std::string outbox = home_.data_folder() + "/outbox";
  const std::string planted = files_.File("planted");
  const std::string key = files_.File("id_rsa");
  test::WriteFile(key, "KEY\r\n");
  test::WriteFile(planted + ".env", "from jd@example.org\nto eve@example.org\n");
  fs::create_directories(home_.data_folder());
  // The link: the outbox itself (to a folder holding the entry), the envelope, the text.
  for (const int link : {0, 1, 2}) {
    fs::remove_all(outbox);
    const std::string folder = link == 0 ? planted : outbox;
    fs::create_directories(folder);
    if (link == 0) fs::create_directory_symlink(planted, outbox);
    const auto place = [&](bool as_link, const std::string& from, const std::string& to) {
      as_link ? fs::create_symlink(from, to) : (void)fs::copy_file(from, to);
    };
    place(link == 1, planted + ".env", folder + "/0.env");
    place(link == 2, key, folder + "/0.msg");
    const auto run = Run({"--send-outbox"});
    EXPECT_NE(run.err.find("it is a symbolic link"), std::string::npos) << link << run.err;
  }
  EXPECT_TRUE(server.Messages().empty());
}

// With a display, Qt takes its own options (values and "=" forms included) out of the arguments
// before the first positional one; from there on everything is positional, so a subject or body
// that looks like an option stays one and the send ends the program. The send keeps its copy in
// Sent as it does without a display.
TEST_F(ProgramRunTest, QtOptionsCountOnlyBeforeTheFirstPositionalArgument) {
  test::AiosmtpdServer server;
  UseServer(server.port());
  Store("smtp", "sentcopy", "1");
  const std::string style = files_.File("x.qss");
  test::WriteFile(style, "");
  const std::vector<std::vector<std::string>> runs = {
      {"-stylesheet", style, "mailto:ann@example.org", "S", "b", "send"},
      {"-reverse", "--style=fusion", "mailto:ann@example.org", "-qwindowtitle", "b", "send"},
      {"mailto:ann@example.org", "S", "-reverse", "send"}};
  for (std::vector<std::string> args : runs) {
    args.insert(args.begin(), test::BuildPath("tovrelmail"));
    const auto result = test::RunProcess(
        args, {}, {home_.env(), "DISPLAY=:99", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=offscreen"},
        std::chrono::seconds(30));
    EXPECT_EQ(result.exit_status, 0) << args[1] << ": " << result.err;
  }
  const auto mails = server.WaitForMessages(3);
  ASSERT_EQ(mails.size(), 3u);
  EXPECT_EQ(mails[0].rcpt_tos, std::vector<std::string>{"ann@example.org"});
  for (const auto& [mail, subject, body] : {std::tuple{mails[0], "S", "b\n"},
                                            {mails[1], "-qwindowtitle", "b\n"},
                                            {mails[2], "S", "-reverse\n"}}) {
    const QJsonObject judged = test::JudgeMail(mail.data_path);
    EXPECT_EQ(judged["subject"].toString(), subject);
    EXPECT_EQ(judged["body"].toString(), body);
  }
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(home_.data_folder() + "/Sent/cur"), {}), 3);
}

// More text than a line edit takes by default (32,767 characters): every recipient of a long
// link arrives whole, and the window keeps such a link and such a sender entry whole.
TEST_F(ProgramRunTest, TextBeyondTheDefaultLineEditLengthStaysWhole) {
  test::AiosmtpdServer server;
  UseServer(server.port());
  std::vector<std::string> addresses;
  std::string link = "mailto:";
  for (int i = 0; i < 2000; ++i) {
    addresses.push_back("recipient" + std::to_string(i) + "@example.org");
    link += (i == 0 ? "" : ",") + addresses.back();
  }
  ASSERT_GT(link.size(), 50000u);
  const auto result = Run({link, "Many", "b", "send"});
  EXPECT_EQ(result.exit_status, 0) << result.err.substr(0, 500);
  const auto mails = server.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].rcpt_tos, addresses);

  const std::string name(40000, 'n');
  StoreAccount(name, "long@example.org");
  ComposeWindow window({link});
  window.LoadIdentities();
  EXPECT_EQ(Find<QLineEdit>(&window, "ToBox")->text().toStdString(), link.substr(7));
  EXPECT_EQ(Find<QComboBox>(&window, "FromBox")->currentText().toStdString(),
            name + ",long@example.org");
}

// File names that are not UTF-8 (Latin-1 here) are opened by their bytes: unattended, and sent
// from the window's attachment list.
TEST_F(ProgramRunTest, PathsThatAreNotUtf8AreOpenedByTheirBytes) {
  test::AiosmtpdServer server;
  UseServer(server.port());
  const std::string body = files_.File("caf\xE9.txt");
  test::WriteFile(body, "body line\n");
  const std::string attachment = files_.File("d\xE9j\xE0.bin");
  test::WriteFile(attachment, "attached bytes");
  const auto result = Run({"mailto:ann@example.org", "S", "-f" + body, "send", attachment});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  {
    test::NoModalExpected no_box;
    ComposeWindow window({"mailto:ann@example.org", "S", "-f" + body, "later", attachment});
    window.LoadIdentities();
    QTest::mouseClick(Find<QPushButton>(&window, "SendButton"), Qt::LeftButton);
  }
  const auto mails = server.WaitForMessages(2);
  ASSERT_EQ(mails.size(), 2u);
  for (const auto& mail : mails) {
    const QJsonObject judged = test::JudgeMail(mail.data_path);
    EXPECT_EQ(judged["body"].toString(), "body line\n");
    const QJsonArray attachments = judged["attachments"].toArray();
    ASSERT_EQ(attachments.size(), 1);
    EXPECT_EQ(attachments[0]["data_hex"].toString().toStdString(), test::ToHex("attached bytes"));
  }
}

// A display named but not answering (as cron and ssh sessions often have) is none.
TEST_F(ProgramRunTest, WithoutADisplayOnlyASendRunsAndSendInCapitalsIsNoSend) {
  test::AiosmtpdServer server;
  UseServer(server.port());
  ASSERT_FALSE(std::filesystem::exists("/tmp/.X11-unix/X99"));
  const std::vector<std::vector<std::string>> displays = {
      {"DISPLAY=", "WAYLAND_DISPLAY="},
      {"DISPLAY=:99", "WAYLAND_DISPLAY="},
      {"DISPLAY=", "WAYLAND_DISPLAY=wayland-9", "XDG_RUNTIME_DIR=" + files_.path()}};
  for (const auto& display : displays) {
    SCOPED_TRACE(display[0] + " " + display[1]);
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"mailto:ann@example.org", "S", "b", "Send"},
                                                 {"mailto:ann@example.org", "S", "b"}}) {
      const auto result = Run(args, {}, display);
      EXPECT_EQ(result.exit_status, 2);
      EXPECT_EQ(result.err, "TovrelMail needs a display unless it is asked to send\n");
    }
    const auto sent = Run({"mailto:ann@example.org", "S", "b", "send"}, {}, display);
    EXPECT_EQ(sent.exit_status, 0) << sent.err;
  }
  // Only the real sends arrived.
  const auto mails = server.WaitForMessages(displays.size());
  QTest::qWait(200);
  EXPECT_EQ(server.Messages().size(), displays.size());
}

// A plain send without a display maps nothing of the window toolkit, nor what it does not use:
// the keyring, the network module, OpenSSL, the converter of international domains. With a
// display (the offscreen platform here) the same send runs in the window module, found beside
// the program.
TEST_F(ProgramRunTest, OnlyARunWithADisplayLoadsTheWindows) {
  test::AiosmtpdServer server;
  UseServer(server.port());
  auto loaded_objects = [&](const std::vector<std::string>& display) {
    const test::TempDir logs;
    std::vector<std::string> env{home_.env(), "LD_DEBUG=files",
                                 "LD_DEBUG_OUTPUT=" + logs.File("loaded")};
    env.insert(env.end(), display.begin(), display.end());
    const auto result = test::RunProcess(
        {test::BuildPath("tovrelmail"), "mailto:ann@example.org", "S", "b", "send"}, {}, env,
        std::chrono::seconds(60));
    EXPECT_EQ(result.exit_status, 0) << result.err;
    std::string objects;  // the loader adds the process id to the file name
    for (const auto& entry : std::filesystem::directory_iterator(logs.path())) {
      objects += test::ReadFile(entry.path().string());
    }
    return objects;
  };
  const std::string headless = loaded_objects({"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
  EXPECT_NE(headless.find("libQt6Core"), std::string::npos) << headless;
  for (const char* window_part :
       {"libQt6Gui", "libQt6Widgets", "tovrelmail_window", "libsecret", "libQt6Network", "libidn2",
        "tovrelmail_services", "libssl", "libcrypto"}) {
    EXPECT_EQ(headless.find(window_part), std::string::npos) << window_part;
  }
  const std::string windowed =
      loaded_objects({"DISPLAY=:99", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=offscreen"});
  EXPECT_NE(windowed.find("tovrelmail_window.so"), std::string::npos);
  EXPECT_EQ(server.WaitForMessages(2).size(), 2u);
}

// Help and version answer on standard output without a display; with other arguments beside
// them the words are positional arguments as always.
TEST_F(ProgramRunTest, HelpAndVersionAnswerWithoutADisplay) {
  for (const char* flag : {"--help", "-h"}) {
    const auto result = Run({flag});
    EXPECT_EQ(result.exit_status, 0) << flag;
    EXPECT_EQ(result.out.rfind("Usage: tovrelmail [LINK [SUBJECT [BODY [send [FILE...]]]]]\n", 0),
              0u)
        << result.out;
    EXPECT_EQ(result.err, "");
  }
  const auto version = Run({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, "TovrelMail 3.3\n");
  const auto positional = Run({"--help", "S"});
  EXPECT_EQ(positional.exit_status, 2);
  EXPECT_EQ(positional.out, "");
}

TEST_F(ProgramRunTest, AFirstStartPreparesTheStoreAndLeavesTheFirstRunPending) {
  // No server is set up yet: the run ends before any name is looked up.
  const auto result = Run({"mailto:ann@example.org", "S", "b", "send"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(OneErrorLine(result), "No SMTP server is set. Please set the SMTP server in Settings.");
  EXPECT_EQ(Stored("frst", ""), "a");
  EXPECT_EQ(Stored("ident", "numOfIdents"), "0");
  EXPECT_EQ(Stored("port", "port"), "25");
}

}  // namespace
}  // namespace tovrel::app
