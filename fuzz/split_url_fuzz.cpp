// Any text as the address of a web request: either the client refuses it with its own error, or
// the host, port and path it takes from it make sense and the request can be composed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "http/http_client.h"
#include "http/http_error.h"

namespace tovrel::fuzz {
namespace {

// Splits the address and composes the request, and goes no further.
class SplitOnly : public http::HttpClient {
 protected:
  void Perform() override {
    SplitURL();
    ComposeRequest();
  }
};

int TestOne(const std::uint8_t* data, std::size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  SplitOnly client;
  try {
    client.Get(url);
  } catch (const http::HttpError&) {
    return 0;
  }
  Require(client.port() >= 0 && client.port() <= 65535, "a port out of range");
  Require(client.host().find('/') == std::string::npos, "a host holding a slash");
  const std::string& path = client.request_path();
  Require(path.starts_with('/'), "a path that does not start with a slash");
  Require(client.target_url().find(path) != std::string::npos,
          "a path that is not part of the address");
  Require(client.request_headers().Count() > 0, "no request line");
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
