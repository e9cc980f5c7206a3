// Any text as the settings file: either it is refused as a whole, or the tree read from it writes
// back to a text that reads as the same tree and writes back to the same text again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "store/reg_file_format.h"
#include "store/store_error.h"

namespace tovrel::fuzz {
namespace {

bool SameTree(const store::RegKey& a, const store::RegKey& b) {
  if (a.name() != b.name() || a.values() != b.values()) return false;
  if (a.children().size() != b.children().size()) return false;
  for (std::size_t i = 0; i < a.children().size(); ++i) {
    if (!SameTree(*a.children()[i], *b.children()[i])) return false;
  }
  return true;
}

int TestOne(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<store::RegKey> tree;
  try {
    tree = store::ParseRegFile(text);
  } catch (const store::RegistryError&) {
    return 0;
  }
  if (!tree) return 0;
  const std::string written = store::SerializeRegFile(*tree);
  const auto reread = store::ParseRegFile(written);
  Require(reread.has_value(), "a written tree does not read back");
  Require(SameTree(*tree, *reread), "a written tree reads back as another tree");
  Require(store::SerializeRegFile(*reread) == written, "writing is not stable");
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
