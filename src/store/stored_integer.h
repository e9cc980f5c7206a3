#pragma once

// Integer conversion of stored text: an optional sign and decimal digits, in the range of a
// 32-bit integer.

#include <optional>
#include <string_view>

namespace tovrel::store {

// Empty when the text is not such an integer.
std::optional<int> ParseInt(std::string_view text);
// `fallback` when the text is not such an integer.
int StrToIntDef(std::string_view text, int fallback);

}  // namespace tovrel::store
