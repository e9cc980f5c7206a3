#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovrel::app {

// Integer conversion of stored and typed text: an optional sign and decimal digits, in the
// range of a 32-bit integer. Anything else raises ConversionError "'%s' is not a valid integer
// value".
int StrToInt(std::string_view text);

// The comma-text split: items separated by commas and by characters with codes 1 to 32, an item
// may be double-quoted (two double quotes stand for one), a trailing comma adds an empty item.
// Text after a NUL character is not looked at.
std::vector<std::string> CommaTextSplit(std::string_view text);

// Whether UTF-8 text holds a control character (C0, DEL or C1).
bool HasControlCharacter(std::string_view utf8);

// Text from outside (a file name, a link) made safe to show in a message box or on a terminal:
// every control character but TAB, every character that turns the direction of the text, and
// every byte that is not part of well-formed UTF-8, becomes "?".
std::string VisibleText(std::string_view text);

// The text as one line: every line break (CR LF, LF or CR) becomes one blank.
std::string OneLine(const std::string& text);

// The text the default error report shows for a failure message: the message itself, with "."
// appended when its last character sorts after "." (so "Connection refused" gains a full stop
// and "Already connected." keeps its own).
std::string ErrorReportText(const std::string& message);

}  // namespace tovrel::app
