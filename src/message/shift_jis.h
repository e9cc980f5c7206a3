#pragma once

// The Japanese code sets: what a Japanese locale types (Shift_JIS) and what mail carries.

#include <string>
#include <string_view>

namespace tovrel::message {

// Shift_JIS bytes to ISO-2022-JP (ESC $ B ... ESC ( B). Half-width katakana become their
// full-width forms (with a following voicing mark folded in where one exists); bytes that have no
// mapping are dropped. Never fails.
std::string ShiftJisToJis(std::string_view text);

}  // namespace tovrel::message
