// The error document of a 334 challenge: whatever it holds, a value read from it is no longer
// than the document, and a string value written with its quotes and backslashes escaped is read
// back exactly.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "net/json_text.h"

namespace tovrel::fuzz {
namespace {

int TestOne(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (const std::string_view key : {"status", "scope", ""}) {
    Require(net::JsonText(input, key).size() <= input.size(), "a value longer than its document");
  }
  std::string document = "{\"status\":\"";
  for (const char c : input) {
    if (c == '"' || c == '\\') document += '\\';
    document += c;
  }
  document += "\",\"scope\":\"s\"}";
  Require(net::JsonText(document, "status") == input, "an escaped value read back otherwise");
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
