#pragma once

// The ordered list of 8-bit texts used for bodies, newsgroups and reply lines.

#include <string>
#include <vector>

namespace tovrel::message {

using StringList = std::vector<std::string>;

}  // namespace tovrel::message
