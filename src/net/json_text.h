#pragma once

// The string value of a key at the top of a small JSON document such as
// {"status":"401","schemes":"bearer","scope":"https://mail.google.com/"}, the error a provider
// sends in a 334 challenge: enough to show what it said, without taking a JSON parser into the
// transport.

#include <string>
#include <string_view>

namespace tovrel::net {

// The first value of `key`; a value that is not a string is given as written up to the next
// separator; a backslash keeps the character after it. Empty when the key is missing.
std::string JsonText(std::string_view document, std::string_view key);

}  // namespace tovrel::net
