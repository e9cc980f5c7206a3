// The client against the scripted server on loopback: the request on the wire, the reply in
// Body and Header, redirects, cookies, failures and the limits that protect against a hostile
// server.

#include "http/http_client.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <string>
#include <vector>

#include "failure_text.h"
#include "form_decoder.h"
#include "http/http_error.h"
#include "support/scripted_http_server.h"
#include "socket_helpers.h"
#include "support/test_support.h"

namespace tovrel::http {
namespace {

using test::FailureOf;

using test::HttpReply;
using test::ScriptedServer;

const std::string kUpdatePath = "/updates/tovrelmail33.upd";

// Set up as the update check sets up its client.
class HttpClientTest : public ::testing::Test {
 protected:
  HttpClientTest() {
    client_.set_time_out(5000);
    client_.set_report_level(2);
    client_.set_on_success([this](HttpClient&, CmdType cmd) { successes_.push_back(cmd); });
    client_.set_on_failure([this](HttpClient&, CmdType cmd) { failures_.push_back(cmd); });
  }
  HttpClient client_;
  std::vector<CmdType> successes_;
  std::vector<CmdType> failures_;
};

TEST_F(HttpClientTest, GetSendsExactlyTheUpdateRequest) {
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 200 OK", "", "new")}};
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(server.NextRequest(),
            "GET /updates/tovrelmail33.upd HTTP/1.0\r\n"
            "Host: 127.0.0.1\r\n"
            "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
            "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
            "Content-type: application/x-www-form-urlencoded\r\n"
            "\r\n");
}

TEST_F(HttpClientTest, BodyIsExactlyWhatTheServerSent) {
  struct Case {
    std::string body;
  };
  for (const std::string& body : {std::string("new"), std::string("new\r\n"), std::string("new\n"),
                                  std::string(""), test::RandomBytes(100000, 9)}) {
    ScriptedServer server{
        {.reply = HttpReply("HTTP/1.0 200 OK", "Content-Type: text/plain\r\n", body)}};
    client_.Get(server.Url(kUpdatePath));
    EXPECT_EQ(client_.body(), body);
    EXPECT_EQ(client_.reply_number(), 200);
    EXPECT_EQ(client_.header(), "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    EXPECT_EQ(client_.status_text(), "Transaction Completed");
    EXPECT_FALSE(client_.connected());
  }
  EXPECT_EQ(successes_, std::vector<CmdType>(5, CmdType::Get));
  EXPECT_TRUE(failures_.empty());
}

TEST_F(HttpClientTest, BodyArrivingOneByteAtATimeIsComplete) {
  const std::string reply = HttpReply("HTTP/1.0 200 OK", "X-Slow: yes\r\n", "new and more");
  ScriptedServer server{{.reply = reply, .chunk = 1, .chunk_delay = 0.002}};
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(client_.body(), "new and more");
  EXPECT_EQ(client_.header(), "HTTP/1.0 200 OK\r\nX-Slow: yes\r\n\r\n");
}

TEST_F(HttpClientTest, StatusLineWithoutReasonAndLfLineEnds) {
  ScriptedServer server{{.reply = "HTTP/1.0 404\nContent-Length: 9\n\nnot found"}};
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(client_.reply_number(), 404);
  EXPECT_EQ(client_.content_length(), 9);
  EXPECT_EQ(client_.body(), "not found");
}

TEST_F(HttpClientTest, NotFoundIsReportedAsFailureWithTheErrorPage) {
  const std::string page = "<html><body>No such file</body></html>";
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 404 Not Found", "", page)}};
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(failures_, std::vector<CmdType>{CmdType::Get});
  EXPECT_EQ(static_cast<int>(failures_.front()), 0);
  EXPECT_TRUE(successes_.empty());
  EXPECT_EQ(client_.reply_number(), 404);
  EXPECT_EQ(client_.body(), page);
}

TEST_F(HttpClientTest, UnauthorizedAsksForAuthentication) {
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 401 Unauthorized", "", "who?")}};
  int asked = 0;
  client_.set_on_authentication_needed([&](HttpClient&) { ++asked; });
  client_.Get(server.Url("/private"));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(failures_.size(), 1u);
}

TEST_F(HttpClientTest, RedirectIsFollowedAndItsCookieKept) {
  ScriptedServer server{
      {.reply = HttpReply("HTTP/1.0 302 Found",
                          "Location: /moved/here.upd\r\nSet-Cookie: id=42; path=/\r\n", "gone")},
      {.reply = HttpReply("HTTP/1.0 200 OK", "", "new")},
      {.reply = HttpReply("HTTP/1.0 200 OK", "", "again")}};
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(client_.body(), "new");
  EXPECT_EQ(client_.location(), "/moved/here.upd");
  EXPECT_EQ(client_.header_info().cookie, "id=42; path=/");
  const std::string first = server.NextRequest();
  const std::string second = server.NextRequest();
  EXPECT_EQ(first.find("Cookie:"), std::string::npos);
  EXPECT_EQ(second.rfind("GET /moved/here.upd HTTP/1.0\r\n", 0), 0u);
  EXPECT_NE(second.find("\r\nCookie: id=42; path=/\r\n"), std::string::npos);
  // The cookie goes with every later request too.
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(client_.body(), "again");
  EXPECT_NE(server.NextRequest().find("\r\nCookie: id=42; path=/\r\n"), std::string::npos);
}

TEST_F(HttpClientTest, CookieOfAPlainReplyIsOfferedButNotStored) {
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 200 OK", "Set-Cookie: seen=1\r\n", "new")}};
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(client_.cookie_in(), "seen=1");
  EXPECT_EQ(client_.header_info().cookie, "");
}

TEST_F(HttpClientTest, RedirectToABareNameStaysOnTheHost) {
  ScriptedServer server{
      {.reply = HttpReply("HTTP/1.0 303 See Other", "Location: other.upd\r\n", "")},
      {.reply = HttpReply("HTTP/1.0 302 Found", "Location: other.upd\r\n", "")},
      {.reply = HttpReply("HTTP/1.0 200 OK", "", "fine")}};
  client_.Get(server.Url(kUpdatePath));
  // A 303 asks again for the same URL; the 302 then leads to "http://<host>:<port>/other.upd".
  for (const char* line :
       {"GET /updates/tovrelmail33.upd ", "GET /updates/tovrelmail33.upd ", "GET /other.upd "}) {
    const std::string request = server.NextRequest();
    EXPECT_EQ(request.rfind(line, 0), 0u) << request;
  }
  EXPECT_EQ(client_.target_url(), "http://" + server.Url("/other.upd"));
  EXPECT_EQ(client_.body(), "fine");
}

TEST_F(HttpClientTest, RedirectHandlerCanStopTheCommand) {
  ScriptedServer server{
      {.reply = HttpReply("HTTP/1.0 302 Found", "Location: /elsewhere\r\n", "moved")}};
  client_.set_on_redirect([](HttpClient&, bool& handled) { handled = true; });
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(client_.reply_number(), 302);
  EXPECT_EQ(client_.body(), "moved");
  EXPECT_EQ(client_.target_url(), "/elsewhere");
}

TEST_F(HttpClientTest, EndlessRedirectsStopAfterTwentyRequests) {
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 302 Found", "Location: /loop\r\n", "")}};
  EXPECT_EQ(FailureOf<HttpError>([&] { client_.Get(server.Url("/loop")); }),
            "Too many redirects (more than 20 passes)");
  for (int i = 0; i < HttpClient::kMaxPasses; ++i) server.NextRequest();
  EXPECT_FALSE(client_.busy());
  // A new command starts with a fresh count.
  EXPECT_EQ(FailureOf<HttpError>([&] { client_.Get(server.Url("/loop")); }),
            "Too many redirects (more than 20 passes)");
}

TEST_F(HttpClientTest, ServerThatKeepsTheConnectionOpenEndsInTheTimeOut) {
  ScriptedServer server{
      {.reply = HttpReply("HTTP/1.0 200 OK", "Content-Length: 3\r\n", "new"), .keep_open = true}};
  client_.set_time_out(400);
  EXPECT_EQ(FailureOf<HttpError>([&] { client_.Get(server.Url(kUpdatePath)); }),
            "Socket capture aborted");
  EXPECT_FALSE(client_.connected());
  EXPECT_FALSE(client_.busy());
}

TEST_F(HttpClientTest, SilentServerEndsInTheReadTimeOut) {
  ScriptedServer server{{.silent = true}};
  client_.set_time_out(300);
  EXPECT_EQ(FailureOf<HttpError>([&] { client_.Get(server.Url(kUpdatePath)); }),
            "Socket readln aborted");
  EXPECT_FALSE(client_.connected());
}

TEST_F(HttpClientTest, ConnectWithoutAnswerTimesOut) {
  test::FullListener listener;
  client_.set_time_out(300);
  EXPECT_EQ(FailureOf<HttpError>(
                [&] { client_.Get("127.0.0.1:" + std::to_string(listener.port()) + "/x"); }),
            "Connection Timed out");
}

TEST_F(HttpClientTest, RefusedPortAndUnknownHost) {
  EXPECT_EQ(FailureOf<HttpError>([&] {
              client_.Get("127.0.0.1:" + std::to_string(test::RefusedPort()) + kUpdatePath);
            }),
            "Connection Failed");
  EXPECT_EQ(FailureOf<HttpError>([&] { client_.Get(test::kUnresolvableHost + kUpdatePath); }),
            "Null Remote Address");
  EXPECT_FALSE(client_.busy());
}

TEST_F(HttpClientTest, OverlongHeaderLineEndsTheCommand) {
  const std::string huge = "X-Huge: " + std::string(70000, 'h') + "\r\n";
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 200 OK", huge, "new")}};
  EXPECT_EQ(FailureOf<HttpError>([&] { client_.Get(server.Url(kUpdatePath)); }),
            "Reply line longer than 65536 bytes");
  EXPECT_FALSE(client_.connected());
}

TEST_F(HttpClientTest, EndlessHeaderEndsTheCommand) {
  std::string many;
  for (int i = 0; i < 1100; ++i) many += "X-Line: " + std::string(1000, 'a') + "\r\n";
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 200 OK", many, "new")}};
  EXPECT_EQ(FailureOf<HttpError>([&] { client_.Get(server.Url(kUpdatePath)); }),
            "Reply header larger than 1 MiB");
}

TEST_F(HttpClientTest, BodyLimitAcceptsItsSizeAndRefusesMore) {
  const std::int64_t limit = 1 << 20;
  client_.set_max_body_size(limit);
  const std::string exact = test::RandomBytes(std::size_t(limit), 21);
  ScriptedServer server{
      {.reply = HttpReply("HTTP/1.0 200 OK", "", exact)},
      {.reply = HttpReply("HTTP/1.0 200 OK", "", exact + "!"), .keep_open = true}};
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(client_.body(), exact);
  EXPECT_EQ(FailureOf<HttpError>([&] { client_.Get(server.Url(kUpdatePath)); }),
            "Reply body larger than the allowed 1048576 bytes");
  EXPECT_FALSE(client_.connected());
}

TEST_F(HttpClientTest, PostSendsTheEncodedDataWithItsLength) {
  std::string data;
  for (int i = 0; i < 256; ++i) data += char(i);
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 200 OK", "", "thanks")}};
  client_.Post(server.Url("/form"), data);
  const std::string request = server.NextRequest();
  const std::string body = request.substr(request.find("\r\n\r\n") + 4);
  EXPECT_NE(request.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  // A real form decoder gives back every byte.
  EXPECT_EQ(test::PythonFormDecode(body), data);
}

TEST_F(HttpClientTest, LinkSendsTheBodyItAnnounces) {
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 204 No Content", "", "")}};
  client_.Link(server.Url("/a"), "/b");
  const std::string request = server.NextRequest();
  EXPECT_NE(request.find("\r\nContent-Length: 8\r\n"), std::string::npos);
  EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4), "Send.dat");
}

TEST_F(HttpClientTest, FileModesSendAFileAndStoreHeaderAndBodyInFiles) {
  test::TempDir dir;
  const std::string upload = test::RandomBytes(150000, 4);
  test::WriteFile(dir.File("upload.bin"), upload);
  const std::string answer = test::RandomBytes(90000, 8);
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 201 Created", "X-A: 1\r\n", answer)}};
  client_.set_output_file_mode(true);
  client_.set_input_file_mode(true);
  client_.set_header(dir.File("head.txt"));
  client_.set_body(dir.File("body.bin"));
  client_.Put(server.Url("/store"), dir.File("upload.bin"));
  const std::string request = server.NextRequest();
  EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4), upload);
  EXPECT_EQ(test::ReadFile(dir.File("head.txt")), "HTTP/1.0 201 Created\r\nX-A: 1\r\n\r\n");
  EXPECT_EQ(test::ReadFile(dir.File("body.bin")), answer);
  EXPECT_EQ(client_.body(), dir.File("body.bin"));
}

TEST_F(HttpClientTest, ProxyReceivesTheWholeUrl) {
  ScriptedServer proxy{{.reply = HttpReply("HTTP/1.0 200 OK", "", "via proxy")}};
  client_.set_proxy("127.0.0.1");
  client_.set_proxy_port(proxy.port());
  client_.Get("http://far.invalid/updates/x.upd");
  EXPECT_EQ(client_.body(), "via proxy");
  const std::string request = proxy.NextRequest();
  EXPECT_EQ(request.rfind("GET http://far.invalid/updates/x.upd HTTP/1.0\r\n", 0), 0u);
  EXPECT_NE(request.find("\r\nHost: far.invalid\r\n"), std::string::npos);
}

TEST_F(HttpClientTest, EventsRunWhileTheServerDelays) {
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 200 OK", "", "new"), .delay = 0.8}};
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(50);
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(client_.body(), "new");
  EXPECT_GE(ticks, 8);
}

TEST_F(HttpClientTest, SecondCommandDuringAWaitIsRefusedAndTheFirstCompletes) {
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 200 OK", "", "new"), .delay = 0.5}};
  std::string nested_error;
  QTimer::singleShot(
      100, [&] { nested_error = FailureOf<HttpError>([&] { client_.Get(server.Url("/x")); }); });
  client_.Get(server.Url(kUpdatePath));
  EXPECT_EQ(nested_error, "Another request of this client is still running");
  EXPECT_EQ(client_.body(), "new");
}

TEST_F(HttpClientTest, AbortDuringAWaitEndsTheCommand) {
  ScriptedServer server{{.reply = HttpReply("HTTP/1.0 200 OK", "", "new"), .delay = 2}};
  client_.set_time_out(0);
  QTimer::singleShot(100, [&] { client_.Abort(); });
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(FailureOf<HttpError>([&] { client_.Get(server.Url(kUpdatePath)); }),
            "Socket readln aborted");
  EXPECT_LT(clock.elapsed(), 1500);
  EXPECT_FALSE(client_.connected());
}

}  // namespace
}  // namespace tovrel::http
