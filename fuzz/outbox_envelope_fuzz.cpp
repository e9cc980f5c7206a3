// Any envelope file of the outbox: what is read from it, written again, reads back to the same
// text, and the reply and the unconfirmed attempts written hold no control character and no
// second line.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/outbox_envelope.h"
#include "fuzz_check.h"

namespace tovrel::fuzz {
namespace {

int TestOne(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string text = app::EnvelopeText(app::ParseEnvelope(input));
  Require(app::EnvelopeText(app::ParseEnvelope(text)) == text, "an envelope read back otherwise");
  const std::size_t reply = text.rfind("\nreply ");
  Require(reply != std::string::npos, "no reply line");
  const std::string line = text.substr(reply + 7, text.find('\n', reply + 1) - reply - 7);
  Require(IsShownLine(line), "a control character or a line break in the reply");
  for (const std::string& attempt : app::ParseEnvelope(text).unconfirmed) {
    Require(IsShownLine(attempt), "a control character in an unconfirmed attempt");
  }
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
