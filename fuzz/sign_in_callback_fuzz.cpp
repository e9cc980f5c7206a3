// Any bytes sent to the sign-in's loopback listener: a request is complete only within its
// limit, bytes after its end change nothing, and the query's parameters, written again with
// every byte escaped, read back the same.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/sign_in_callback.h"
#include "fuzz_check.h"

namespace tovrel::fuzz {
namespace {

std::string Escaped(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    out.append({'%', kHex[u >> 4], kHex[u & 15]});
  }
  return out;
}

bool Same(const app::CallbackRequest& a, const app::CallbackRequest& b) {
  return a.status == b.status && a.method == b.method && a.path == b.path && a.host == b.host &&
         a.query == b.query;
}

int TestOne(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  using Status = app::CallbackRequest::Status;
  const app::CallbackRequest request = app::ReadCallbackRequest(input);
  if (request.status == Status::kTooLarge) {
    Require(size >= app::kCallbackRequestLimit, "too large below the limit");
  }
  if (request.status != Status::kIncomplete && request.status != Status::kTooLarge) {
    Require(Same(request, app::ReadCallbackRequest(input + "\r\n\r\nGET /x HTTP/1.1\r\n")),
            "bytes after the end changed the request");
  }
  if (request.status != Status::kComplete) return 0;
  Require(!request.method.empty() && !request.path.empty(), "a complete request without a target");
  std::string again = "GET /?";
  for (const auto& [name, value] : request.query) {
    again += Escaped(name) + "=" + Escaped(value) + "&";
  }
  again += " HTTP/1.1\r\nHost: h\r\n\r\n";
  if (again.size() > app::kCallbackRequestLimit) return 0;
  const app::CallbackRequest read = app::ReadCallbackRequest(again);
  Require(read.status == Status::kComplete && read.query == request.query,
          "parameters read back otherwise");
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
