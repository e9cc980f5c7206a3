#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovrel::app {

// `pattern` with its first "%s" replaced by `argument`.
std::string FormatText(std::string_view pattern, std::string_view argument);
std::string FormatText(std::string_view pattern, std::string_view first, std::string_view second);

// Integer conversion of stored and typed text: an optional sign and decimal digits, in the
// range of a 32-bit integer. Anything else raises ConversionError "'%s' is not a valid integer
// value".
int StrToInt(std::string_view text);
// The same conversion, empty when the text is not an integer.
std::optional<int> ParseInt(std::string_view text);
// The same conversion, returning `fallback` instead of raising.
int StrToIntDef(std::string_view text, int fallback);

// The comma-text split: items separated by commas and by characters with codes 1 to 32, an item
// may be double-quoted (two double quotes stand for one), a trailing comma adds an empty item.
// Text after a NUL character is not looked at.
std::vector<std::string> CommaTextSplit(std::string_view text);

}  // namespace tovrel::app
