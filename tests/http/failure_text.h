#pragma once

#include <string>

namespace tovrel::test {

// Runs `body` and returns the text of the exception of type E it raised, or "" when it raised
// none, so a test can compare the exact words the user would see.
template <typename E, typename F>
std::string FailureOf(F&& body) {
  try {
    body();
  } catch (const E& e) {
    return e.what();
  }
  return {};
}

}  // namespace tovrel::test
