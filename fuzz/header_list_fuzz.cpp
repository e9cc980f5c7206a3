// One header field set with any value among other fields: read back unfolded it keeps the
// value's words in order; no entry holds a line break, is empty, or poses as a field of its
// own; the fields around it stay as they were.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "message/header_list.h"
#include "message/string_helpers.h"

namespace tovrel::fuzz {
namespace {

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) <= 32) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

bool IsContinuation(std::string_view line) {
  return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}

std::string FieldName(FuzzedDataProvider& input) {
  static constexpr std::string_view kNameChars =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-";
  std::string name;
  const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(1, 30);
  for (std::size_t i = 0; i < length; ++i) {
    name += kNameChars[input.ConsumeIntegralInRange<std::size_t>(0, kNameChars.size() - 1)];
  }
  return name;
}

int TestOne(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Sometimes the field is there already, with a continuation line of its own.
  const bool replace = input.ConsumeBool();
  const std::string name = replace ? "x-Middle" : FieldName(input);
  const std::string value = input.ConsumeRemainingBytesAsString();

  message::HeaderList list;
  list.Add("Before: 1");
  list.Add("X-Middle: old");
  list.Add("\tcontinued");
  list.Add("After: 2");
  list.SetHeader(name, value);

  std::vector<std::string> heads;
  for (const std::string& line : list) {
    Require(line.find_first_of("\r\n") == std::string::npos, "an entry holds a line break");
    Require(!Words(line).empty(), "an entry without text ends the header block");
    if (!IsContinuation(line)) heads.push_back(line.substr(0, line.find(':')));
  }
  // The fields expected in order, and the one the value went to.
  std::vector<std::string> expected = {"Before", "X-Middle", "After"};
  const std::vector<std::string> old_values = {"1", "old continued", "2"};
  std::size_t at = expected.size();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (message::EqualsIgnoreCase(expected[i], name)) at = i;
  }
  if (value.empty()) {
    if (at < expected.size()) expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(at));
  } else if (at < expected.size()) {
    expected[at] = name;
  } else {
    expected.push_back(name);
  }
  Require(heads == expected, "the fields are not the ones expected in their order");
  for (std::size_t i = 0; i < old_values.size(); ++i) {
    if (i == at) continue;
    static const char* const kOldNames[] = {"Before", "X-Middle", "After"};
    Require(list.ValueOf(kOldNames[i]) == old_values[i], "another field changed");
  }
  if (!value.empty()) {
    Require(Words(list.ValueOf(name)) == Words(value),
            "unfolding does not give the value's words back");
  }
  return 0;
}

}  // namespace
}  // namespace tovrel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return tovrel::fuzz::TestOne(data, size);
}
