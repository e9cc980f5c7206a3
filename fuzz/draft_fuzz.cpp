// Any draft file: it is refused as damaged, or what is read from it, written again, reads back
// to the same text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/app_errors.h"
#include "app/drafts_store.h"
#include "fuzz_check.h"

namespace tovrel::fuzz {
namespace {

int TestOne(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  app::Draft draft;
  try {
    draft = app::ParseDraft(input);
  } catch (const app::FileError&) {
    return 0;
  }
  const std::string text = app::DraftText(draft);
  try {
    Require(app::DraftText(app::ParseDraft(text)) == text, "a draft read back otherwise");
  } catch (const app::FileError&) {
    Fail("a draft written is refused as damaged");
  }
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
