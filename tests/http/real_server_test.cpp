// The client against a real HTTP server from the platform: Python's http.server serving a
// folder that holds the update-information file.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "http/http_client.h"
#include "http/http_error.h"
#include "support/test_support.h"

namespace tovrel::http {
namespace {

class RealServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_.File("updates"));
    test::WriteFile(root_.File("updates/tovrelmail33.upd"), "new");
    test::WriteFile(root_.File("updates/crlf.upd"), "new\r\n");
    server_ = std::make_unique<test::ChildProcess>(
        std::vector<std::string>{test::kPython, "-u", "-m", "http.server", "0", "--bind",
                                 "127.0.0.1", "--directory", root_.path()});
    // "Serving HTTP on 127.0.0.1 port 41234 (http://127.0.0.1:41234/) ..."
    const std::string banner = server_->ReadLine();
    const std::size_t at = banner.find(" port ");
    ASSERT_NE(at, std::string::npos) << banner;
    host_ = "127.0.0.1:" + std::to_string(std::stoi(banner.substr(at + 6)));
    client_.set_time_out(7500);
    client_.set_report_level(2);
  }

  test::TempDir root_;
  std::unique_ptr<test::ChildProcess> server_;
  std::string host_;
  HttpClient client_;
};

TEST_F(RealServerTest, UpdateFileBodyIsExact) {
  client_.Get(host_ + "/updates/tovrelmail33.upd");
  EXPECT_EQ(client_.reply_number(), 200);
  EXPECT_EQ(client_.body(), "new");
  EXPECT_EQ(client_.content_length(), 3);
  client_.Get(host_ + "/updates/crlf.upd");
  EXPECT_EQ(client_.body(), "new\r\n");
}

TEST_F(RealServerTest, MissingFileIsAFailureWithTheServersPage) {
  bool failed = false;
  client_.set_on_failure([&](HttpClient&, CmdType) { failed = true; });
  client_.Get(host_ + "/updates/none.upd");
  EXPECT_TRUE(failed);
  EXPECT_EQ(client_.reply_number(), 404);
  EXPECT_NE(client_.body().find("404"), std::string::npos);
}

// The server answers a folder without its slash with 301 and a Location: the client follows it.
TEST_F(RealServerTest, FolderRedirectIsFollowed) {
  client_.Get(host_ + "/updates");
  EXPECT_EQ(client_.reply_number(), 200);
  EXPECT_NE(client_.body().find("tovrelmail33.upd"), std::string::npos);
  EXPECT_EQ(client_.location(), "/updates/");
}

}  // namespace
}  // namespace tovrel::http
