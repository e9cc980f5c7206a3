#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/reg_tree.h"

namespace tovrel::store {

// The text form of the settings store, in the registry export syntax:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\tovrel\tovrelmail\ident]
//   "numOfIdents"="0"
//   @="the key's unnamed value"
//
// Text values are written in double quotes with "\\" and "\"" escaped. A text holding a control
// character (codes 0 to 31 and 127) is written as hex(1):.. (hex(2):.. for an expandable text):
// its bytes followed by one 00, so every byte string round-trips. dword:xxxxxxxx holds a 32-bit
// number, hex:.. binary data, hex(N):.. the data of type N. A key's block implies its parents.

// The name of the root key in the file.
inline constexpr std::string_view kRegRootName = "HKEY_CURRENT_USER";

// The tree held by `text`, or nothing when the text is not a store file. An empty text is an
// empty store.
std::optional<RegKey> ParseRegFile(std::string_view text);

// The text of a whole tree rooted at the user's root.
std::string SerializeRegFile(const RegKey& root);

// Whether a key or value name can be written to the file (no control characters; key names also
// no backslash).
bool IsStorableKeyName(std::string_view name);
bool IsStorableValueName(std::string_view name);

}  // namespace tovrel::store
