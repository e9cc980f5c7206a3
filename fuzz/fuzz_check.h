#pragma once

// What every fuzz target shares: a broken property aborts, so that libFuzzer keeps the input
// as a crash and the run fails.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tovrel::fuzz {

[[noreturn]] inline void Fail(std::string_view what) {
  std::fprintf(stderr, "property broken: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

inline void Require(bool holds, std::string_view what) {
  if (!holds) Fail(what);
}

// No control character (C0 or DEL) at all.
inline bool HasNoControl(std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

// Text as the program shows what came from outside: one line, TAB the only control character.
inline bool IsShownLine(std::string_view text) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7F) return false;
  }
  return true;
}

}  // namespace tovrel::fuzz
