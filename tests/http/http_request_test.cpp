// How the client turns a command and its URL into a request, checked without a network: a
// client whose Perform stops after composing the request.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "failure_text.h"
#include "http/http_client.h"
#include "http/http_error.h"
#include "support/test_support.h"

namespace tovrel::http {
namespace {

using test::FailureOf;

class ComposeOnlyClient : public HttpClient {
 protected:
  void Perform() override {
    SplitURL();
    ComposeRequest();
  }
};

TEST(SplitUrl, HostPathAndPortFromEachForm) {
  struct Case {
    std::string url;
    std::string host;
    int port;
    std::string path;
    std::string target_after;
  };
  const std::vector<Case> cases = {
      {"www.tovrel.example/updates/tovrelmail33.upd", "www.tovrel.example", 80,
       "/updates/tovrelmail33.upd", "www.tovrel.example/updates/tovrelmail33.upd"},
      {"http://example.org", "example.org", 80, "/", "http://example.org/"},
      {"http://example.org/a/b?c=d", "example.org", 80, "/a/b?c=d", "http://example.org/a/b?c=d"},
      {"http://example.org:8080/x", "example.org", 8080, "/x", "http://example.org:8080/x"},
      {"127.0.0.1:8123/updates/x.upd", "127.0.0.1", 8123, "/updates/x.upd",
       "127.0.0.1:8123/updates/x.upd"},
      {"gopher://hole.example/1", "hole.example", 70, "/1", "gopher://hole.example/1"},
      {"FTP://files.example/pub", "files.example", 21, "/pub", "FTP://files.example/pub"},
      {"justahost", "justahost", 80, "/", "justahost/"},
      {"http://[::1]:8080/x", "::1", 8080, "/x", "http://[::1]:8080/x"},
      {"[2001:db8::25]/a:b", "2001:db8::25", 80, "/a:b", "[2001:db8::25]/a:b"},
  };
  for (const Case& c : cases) {
    ComposeOnlyClient client;
    client.Get(c.url);
    EXPECT_EQ(client.host(), c.host) << c.url;
    EXPECT_EQ(client.port(), c.port) << c.url;
    EXPECT_EQ(client.request_path(), c.path) << c.url;
    EXPECT_EQ(client.target_url(), c.target_after) << c.url;
  }
}

TEST(SplitUrl, PathOnlyKeepsTheHostAndPortOfBefore) {
  ComposeOnlyClient client;
  client.Get("http://first.example:8081/a");
  client.Get("/b/c");
  EXPECT_EQ(client.host(), "first.example");
  EXPECT_EQ(client.port(), 8081);
  EXPECT_EQ(client.request_path(), "/b/c");
}

TEST(SplitUrl, LongPathsAreCut) {
  ComposeOnlyClient client;
  client.Get("host.example/" + std::string(400, 'p'));
  EXPECT_EQ(client.request_path(), "/" + std::string(255, 'p'));
}

TEST(SplitUrl, RefusedUrls) {
  ComposeOnlyClient client;
  EXPECT_EQ(FailureOf<HttpError>([&] { client.Get(""); }), "Empty URL");
  EXPECT_EQ(FailureOf<HttpError>([&] { client.Get("https://secure.example/"); }),
            "HTTP Secure Socket is not supported");
  EXPECT_EQ(FailureOf<HttpError>([&] { client.Get("HTTPS://secure.example/"); }),
            "HTTP Secure Socket is not supported");
  EXPECT_EQ(FailureOf<HttpError>([&] { client.Get("host.example:80x/a"); }),
            "'80x' is not a valid integer value");
  EXPECT_EQ(FailureOf<HttpError>([&] { client.Get("host.example:70000/a"); }),
            "Port number out of range: 70000");
  for (const std::string host : {"[::1", "[::1]8080", "[]:80"}) {
    EXPECT_EQ(FailureOf<HttpError>([&] { client.Get("http://" + host + "/a"); }),
              "Invalid host in URL: " + host);
  }
}

TEST(ComposeRequest, UpdateCheckRequestHasExactlyFiveLines) {
  ComposeOnlyClient client;
  client.Get("www.tovrel.example/updates/tovrelmail33.upd");
  EXPECT_EQ(client.request_headers().lines(),
            (std::vector<std::string>{
                "GET /updates/tovrelmail33.upd HTTP/1.0", "Host: www.tovrel.example",
                "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff",
                "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript",
                "Content-type: application/x-www-form-urlencoded"}));
}

// An IPv6 host line needs brackets; like names and IPv4 it carries no port.
TEST(ComposeRequest, Ipv6HostLineIsBracketed) {
  ComposeOnlyClient client;
  client.Get("http://[2001:db8::25]:8080/x");
  EXPECT_EQ(client.request_headers()[1], "Host: [2001:db8::25]");
  client.Get("[::1]/y");
  EXPECT_EQ(client.request_headers()[1], "Host: [::1]");
  client.Get("127.0.0.1:8080/z");
  EXPECT_EQ(client.request_headers()[1], "Host: 127.0.0.1");
}

TEST(ComposeRequest, EachCommandHasItsMethodAndExtraLines) {
  struct Case {
    std::function<void(HttpClient&)> run;
    std::string request_line;
    std::vector<std::string> extra;  // lines after Content-type
  };
  const std::vector<Case> cases = {
      {[](HttpClient& c) { c.Options("h.example/o"); }, "OPTIONS /o HTTP/1.0", {}},
      {[](HttpClient& c) { c.Head("h.example/h"); }, "HEAD /h HTTP/1.0", {}},
      {[](HttpClient& c) { c.Delete("h.example/d"); }, "DELETE /d HTTP/1.0", {}},
      {[](HttpClient& c) { c.Post("h.example/p", "a b"); },  // sent as "a+b"
       "POST /p HTTP/1.0",
       {"Content-Length: 3"}},
      {[](HttpClient& c) { c.Put("h.example/u", "12345678"); },
       "PUT /u HTTP/1.0",
       {"Content-Length: 8"}},
      {[](HttpClient& c) { c.Patch("h.example/pa", "xy"); },
       "PATCH /pa HTTP/1.0",
       {"Content-Length: 2"}},
      {[](HttpClient& c) { c.Trace("h.example/t", ""); },
       "TRACE /t HTTP/1.0",
       {"Content-Length: 0"}},
      {[](HttpClient& c) { c.Copy("h.example/c", "h.example/c2"); },
       "COPY /c HTTP/1.0",
       {"URI-header: h.example/c2"}},
      {[](HttpClient& c) { c.Move("h.example/m", "h.example/m2"); },
       "MOVE /m HTTP/1.0",
       {"URI-header: h.example/m2"}},
      {[](HttpClient& c) { c.Link("h.example/l", "h.example/l2"); },
       "LINK /l HTTP/1.0",
       {"Link: h.example/l2", "Content-Length: 8"}},
      {[](HttpClient& c) { c.UnLink("h.example/n", "h.example/n2"); },
       "UNLINK /n HTTP/1.0",
       {"Link: h.example/n2", "Content-Length: 8"}},
  };
  for (const Case& c : cases) {
    ComposeOnlyClient client;
    c.run(client);
    const auto& lines = client.request_headers().lines();
    ASSERT_GE(lines.size(), 5u) << c.request_line;
    EXPECT_EQ(lines[0], c.request_line);
    EXPECT_EQ(lines[4], "Content-type: application/x-www-form-urlencoded");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()), c.extra) << c.request_line;
  }
}

TEST(ComposeRequest, PostDataIsFormEncodedUnlessAskedNotTo) {
  ComposeOnlyClient client;
  client.Post("h.example/p", "a b&c=d");
  EXPECT_EQ(client.send_data(), "a+b%26c%3Dd");
  client.set_encode_post_data(false);
  client.Post("h.example/p", "a b&c=d");
  EXPECT_EQ(client.send_data(), "a b&c=d");
}

TEST(ComposeRequest, FileModeAnnouncesTheFileSize) {
  test::TempDir dir;
  test::WriteFile(dir.File("data.bin"), test::RandomBytes(12345, 1));
  ComposeOnlyClient client;
  client.set_output_file_mode(true);
  client.Put("h.example/u", dir.File("data.bin"));
  EXPECT_EQ(client.request_headers().lines().back(), "Content-Length: 12345");
  EXPECT_EQ(FailureOf<HttpError>([&] { client.Put("h.example/u", dir.File("missing.bin")); }),
            "Cannot open file " + dir.File("missing.bin"));
}

TEST(ComposeRequest, HeaderInfoFieldsAreSentWhenSet) {
  ComposeOnlyClient client;
  client.header_info().local_mail_address = "me@example.org";
  client.header_info().local_program = "TovrelMail";
  client.header_info().cookie = "id=42";
  client.header_info().referer = "http://from.example/";
  client.Get("h.example/x");
  const ExStringList& headers = client.request_headers();
  EXPECT_EQ(headers[headers.FindHeader("user-agent")], "User-Agent: me@example.org");
  EXPECT_EQ(headers[headers.FindHeader("FROM")], "From: TovrelMail");
  EXPECT_EQ(headers[headers.FindHeader("Cookie")], "Cookie: id=42");
  EXPECT_EQ(headers[headers.FindHeader("Referer")], "Referer: http://from.example/");
  EXPECT_EQ(headers.FindHeader("Authorization"), -1);  // a user id alone is not enough
  client.header_info().user_id = "someone";
  client.Get("h.example/x");
  EXPECT_EQ(client.request_headers().FindHeader("Authorization"), -1);
}

// The credentials must come back from a real base64 decoder, on one header line, however long.
TEST(ComposeRequest, BasicCredentialsDecodeWithPython) {
  for (const std::string& password : {std::string("secret"), std::string(120, 'p') + "\xff:x"}) {
    ComposeOnlyClient client;
    client.header_info().user_id = "user";
    client.header_info().password = password;
    client.Get("h.example/x");
    const ExStringList& headers = client.request_headers();
    const int index = headers.FindHeader("Authorization");
    ASSERT_GE(index, 0);
    const std::string line = headers[index];
    ASSERT_EQ(line.rfind("Authorization: Basic ", 0), 0u);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    const test::ProcessResult decoded = test::RunPython(
        "import base64,sys; sys.stdout.buffer.write(base64.b64decode(sys.argv[1], validate=True))",
        {line.substr(21)});
    ASSERT_EQ(decoded.exit_status, 0) << decoded.err;
    EXPECT_EQ(decoded.out, "user:" + password);
  }
}

TEST(ComposeRequest, ProxyGetsTheWholeUrlAndOneHostLine) {
  ComposeOnlyClient client;
  client.set_proxy("proxy.example");
  client.set_proxy_port(3128);
  client.Get("http://far.example/page");
  EXPECT_EQ(client.request_headers().lines(),
            (std::vector<std::string>{
                "GET http://far.example/page HTTP/1.0", "Proxy-Connection: Keep-Alive",
                "Host: far.example",
                "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff",
                "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript",
                "Content-type: application/x-www-form-urlencoded"}));
}

}  // namespace
}  // namespace tovrel::http
