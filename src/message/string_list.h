#pragma once

// The ordered list of 8-bit texts used for bodies, newsgroups and reply lines.

#include <string>
#include <vector>

namespace tovrel {

using StringList = std::vector<std::string>;

}  // namespace tovrel
