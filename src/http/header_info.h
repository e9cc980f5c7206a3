#pragma once

#include <string>

namespace tovrel::http {

// Optional facts sent with every request of an HTTP client: who asks, the cookie to return,
// the page that led here and Basic credentials. All empty means none of them is sent.
struct HeaderInfo {
  std::string local_mail_address;
  std::string local_program;
  std::string cookie;
  std::string referer;
  std::string user_id;
  std::string password;
};

}  // namespace tovrel::http
